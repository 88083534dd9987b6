#include <gtest/gtest.h>

#include "platform/component.h"

namespace platform {
namespace {

class Watcher : public TComponent {
  public:
    using TComponent::TComponent;
    TComponent* watched = nullptr;

  protected:
    void Notification(TComponent* component, TOperation operation) override {
        if (operation == opRemove && component == watched) watched = nullptr;
    }
};

TEST(Component, OwnerDestroysWhatItOwnsAndFreeNotificationsAreSent) {
    auto* owner = new TComponent;
    auto* first = new TComponent(owner);
    new TComponent(owner);
    first->SetName("first");
    EXPECT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(owner->Components(0)->Name(), "first");
    delete first;
    EXPECT_EQ(owner->ComponentCount(), 1);

    Watcher watcher;
    watcher.watched = owner;
    owner->FreeNotification(&watcher);
    delete owner;
    EXPECT_EQ(watcher.watched, nullptr);

    // A watcher that goes first is unhooked, so the later destruction tells nobody.
    TComponent target;
    {
        Watcher early;
        early.watched = &target;
        target.FreeNotification(&early);
    }
}

}  // namespace
}  // namespace platform
