// The base of the non-visual components: a name, ownership by an owner that destroys what it
// owns, and free notifications that tell interested components when one is destroyed.
#pragma once

#include <string>
#include <vector>

namespace platform {

class TComponent {
  public:
    enum TOperation { opInsert, opRemove };

    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }

    TComponent* Owner() const { return owner_; }
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const { return components_.at(index); }

    // component's Notification(this, opRemove) runs when this one is destroyed.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    // True once destruction has begun.
    bool Destroying() const { return destroying_; }

  protected:
    virtual void Notification(TComponent* component, TOperation operation);
    // Derived destructors call this first, so that what they run knows the object is going.
    void BeginDestroying() { destroying_ = true; }

  private:
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);

    std::string name_;
    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    bool destroying_ = false;
};

}  // namespace platform
