#include "unicode/SupSynch.h"

#include "unicode/SupUnitVersioning.h"

namespace sup {

namespace {
const TUnitVersionInfo kUnitVersion{"SupSynch.cpp", "1.0", "", "unicode", "", nullptr};
const UnitVersionRegistration kRegistration(kUnitVersion);
}  // namespace

TSupCriticalSection::TSupCriticalSection() = default;
TSupCriticalSection::~TSupCriticalSection() = default;

void TSupCriticalSection::Enter() { FSection.lock(); }
void TSupCriticalSection::Leave() { FSection.unlock(); }

}  // namespace sup
