#pragma once

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zembra {

// Exception of the serial library: a fixed English message.
class EVaCommError : public std::runtime_error {
  public:
    explicit EVaCommError(const std::string& message) : std::runtime_error(message) {}
};

// Raises EVaCommError with format filled with the error number ("%d") and its system text
// ("%s"), in that order.
[[noreturn]] void RaiseCommError(const char* format, int errorNumber);

// The application's exception handler: where exceptions raised by event handlers and by
// receive-event delivery end up (the window shows them; the default prints to stderr).
using TApplicationExceptionHandler = std::function<void(std::exception_ptr)>;
void SetApplicationExceptionHandler(TApplicationExceptionHandler handler);
// Passes the exception being handled (call inside a catch block) to the application's handler.
void HandleApplicationException();

enum TOperation { opInsert, opRemove };

// Base of the library's components: a name, the component state, and free notification
// (components that refer to each other are told when the other one goes away).
class TVaComponent {
  public:
    TVaComponent() = default;
    virtual ~TVaComponent();
    TVaComponent(const TVaComponent&) = delete;
    TVaComponent& operator=(const TVaComponent&) = delete;

    std::string Name;

    bool Designing() const { return designing_; }
    void SetDesigning(bool designing) { designing_ = designing; }
    bool Destroying() const { return destroying_; }

    // Asks to be told (Notification(this, opRemove)) when other is destroyed, and tells other
    // the same about this one.
    void FreeNotification(TVaComponent* other);
    void RemoveFreeNotification(TVaComponent* other);

    // Called once the component's properties have been set by its owner.
    virtual void Loaded() {}

  protected:
    virtual void Notification(TVaComponent* component, TOperation operation);
    // Marks the component destroying and tells every component registered for free
    // notification. Derived destructors call it first, while their members are still alive;
    // later calls do nothing.
    void Destroying_();

  private:
    std::vector<TVaComponent*> freeNotifies_;
    bool designing_ = false;
    bool destroying_ = false;
};

// Base of the property groups: an update counter and a change handler with its owner.
class TVaPersistent {
  public:
    using TChangeHandler = std::function<void(TVaComponent* Owner)>;

    virtual ~TVaPersistent() = default;

    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    void Changed();
    void SetOnChange(TVaComponent* owner, TChangeHandler handler);
    int UpdateCount() const { return updateCount_; }

  private:
    int updateCount_ = 0;
    TChangeHandler onChange_;
    TVaComponent* owner_ = nullptr;
};

}  // namespace zembra
