#pragma once

// The lock of the support units. It guards the first load of the Unicode tables
// of SupUnicode.

#include <mutex>

namespace sup {

// A critical section: recursive, so a thread that already holds it may enter
// again (as the platform's critical sections allow).
class TSupCriticalSection {
public:
  TSupCriticalSection();
  virtual ~TSupCriticalSection();
  TSupCriticalSection(const TSupCriticalSection&) = delete;
  TSupCriticalSection& operator=(const TSupCriticalSection&) = delete;

  void Enter();
  void Leave();

private:
  std::recursive_mutex FSection;
};

// Holds a critical section for one scope.
class SectionLock {
public:
  explicit SectionLock(TSupCriticalSection& section) : FSection(section) { FSection.Enter(); }
  ~SectionLock() { FSection.Leave(); }
  SectionLock(const SectionLock&) = delete;
  SectionLock& operator=(const SectionLock&) = delete;

private:
  TSupCriticalSection& FSection;
};

}  // namespace sup
