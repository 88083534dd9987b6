#include "platform/component.h"

#include <algorithm>

namespace platform {

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    destroying_ = true;
    // Each one told forgets us, which also removes it from this list.
    while (!freeNotifies_.empty()) {
        TComponent* component = freeNotifies_.back();
        freeNotifies_.pop_back();
        std::erase(component->freeNotifies_, this);
        component->Notification(this, opRemove);
    }
    while (!components_.empty())
        delete components_.back();
    if (owner_) owner_->RemoveComponent(this);
}

void TComponent::FreeNotification(TComponent* component) {
    if (!component || component == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), component) == freeNotifies_.end())
        freeNotifies_.push_back(component);
    // Both sides know each other, so whichever goes first unhooks the other.
    if (std::find(component->freeNotifies_.begin(), component->freeNotifies_.end(), this) ==
        component->freeNotifies_.end())
        component->freeNotifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (!component) return;
    std::erase(freeNotifies_, component);
    std::erase(component->freeNotifies_, this);
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::InsertComponent(TComponent* component) {
    components_.push_back(component);
    component->owner_ = this;
    Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
    Notification(component, opRemove);
    std::erase(components_, component);
    component->owner_ = nullptr;
}

}  // namespace platform
