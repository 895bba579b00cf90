#include "editor/CodeEditMiscClasses.h"

namespace codeedit {

void TCodeMethodChain::Add(const TCodeMethod& Method) {
  if (Method.Code == nullptr)
    throw ECodeMethodChain(std::string(ClassName()) + ".Entry : the parameter `AEvent' must be specified.");
  FMethods.push_back(Method);
}

void TCodeMethodChain::Remove(const TCodeMethod& Method) {
  if (Method.Code == nullptr)
    throw ECodeMethodChain(std::string(ClassName()) + ".Remove: the parameter `AEvent' must be specified.");
  for (std::size_t i = FMethods.size(); i-- > 0;)
    if (FMethods[i] == Method) FMethods.erase(FMethods.begin() + static_cast<std::ptrdiff_t>(i));
}

void TCodeMethodChain::Fire() {
  // A handler may add or remove handlers: walk by index and read the list afresh.
  std::size_t i = 0;
  while (i < FMethods.size()) {
    const TCodeMethod method = FMethods[i++];
    try {
      CallEvent(method);
    } catch (const std::exception& e) {
      if (!DoHandleException(e)) return;
    }
  }
}

bool TCodeMethodChain::DoHandleException(const std::exception& E) {
  if (!ExceptionHandler) {
    // Called from Fire's catch, so the exception in flight leaves unchanged.
    if (std::current_exception()) std::rethrow_exception(std::current_exception());
    throw std::runtime_error(E.what());
  }
  bool doContinue = true;
  try {
    ExceptionHandler(*this, E, doContinue);
  } catch (...) {
    throw ECodeMethodChain(std::string(ClassName()) +
                           ".DoHandleException : MUST NOT occur any kind of exception in ExceptionHandler");
  }
  return doContinue;
}

void TCodeNotifyEventChain::CallEvent(const TCodeMethod& Method) {
  reinterpret_cast<TCodeNotifyEvent::Proc>(const_cast<void*>(Method.Code))(Method.Data, FSender);
}

}  // namespace codeedit
