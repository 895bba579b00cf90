#pragma once

// Method chains: lists of handlers that all run, in the order they were
// added, when the chain fires, with a pluggable policy for a handler that
// throws. A highlighter keeps a notify chain so every editor showing it hears
// when its attributes change.

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace codeedit {

class ECodeMethodChain : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A handler as a code address and the object it runs on: two methods are the
// same when both match, so a handler can be taken out again. Code is null for
// an unassigned method.
struct TCodeMethod {
  const void* Code = nullptr;
  void* Data = nullptr;
  friend bool operator==(const TCodeMethod&, const TCodeMethod&) = default;
};

class TCodeMethodChain {
public:
  using TExceptionHandler = std::function<void(TCodeMethodChain& Sender, const std::exception& E, bool& DoContinue)>;

  TCodeMethodChain() = default;
  virtual ~TCodeMethodChain() = default;
  TCodeMethodChain(const TCodeMethodChain&) = delete;
  TCodeMethodChain& operator=(const TCodeMethodChain&) = delete;

  // An unassigned method throws ECodeMethodChain.
  void Add(const TCodeMethod& Method);
  // Takes out every occurrence; an unassigned method throws ECodeMethodChain.
  void Remove(const TCodeMethod& Method);
  // Runs every method. A std::exception from one goes to DoHandleException,
  // which says whether to go on; anything else thrown passes through.
  void Fire();
  int MethodCount() const { return static_cast<int>(FMethods.size()); }

  // Decides whether the firing goes on after E. Without a handler E leaves
  // Fire; a handler that throws becomes ECodeMethodChain.
  virtual bool DoHandleException(const std::exception& E);

  TExceptionHandler ExceptionHandler;

protected:
  virtual void CallEvent(const TCodeMethod& Method) = 0;
  virtual const char* ClassName() const { return "TCodeMethodChain"; }

private:
  std::vector<TCodeMethod> FMethods;
};

// A notify handler: a function called with the object it was bound to and
// the chain's sender. NotifyEvent<&Editor::HighlighterChanged>(editor) binds
// a member function.
struct TCodeNotifyEvent {
  using Proc = void (*)(void* Data, void* Sender);
  Proc Code = nullptr;
  void* Data = nullptr;
  TCodeMethod Method() const { return {reinterpret_cast<const void*>(Code), Data}; }
};

template <auto Member, class T>
TCodeNotifyEvent NotifyEvent(T* Object) {
  return {[](void* data, void* sender) { (static_cast<T*>(data)->*Member)(sender); }, Object};
}

class TCodeNotifyEventChain : public TCodeMethodChain {
public:
  explicit TCodeNotifyEventChain(void* Sender) : FSender(Sender) {}

  void AddNotifyEvent(const TCodeNotifyEvent& Event) { Add(Event.Method()); }
  void RemoveNotifyEvent(const TCodeNotifyEvent& Event) { Remove(Event.Method()); }

  void* Sender() const { return FSender; }
  void SetSender(void* Value) { FSender = Value; }

protected:
  void CallEvent(const TCodeMethod& Method) override;
  const char* ClassName() const override { return "TCodeNotifyEventChain"; }

private:
  void* FSender;
};

}  // namespace codeedit
