#pragma once

// The types at the message boxes' interface: kinds, icons, the common buttons
// and their set, where a drawn dialog is placed, and the modal results every
// entry point returns.

#include <cstdint>

enum TTdMessageType { jmWarning, jmError, jmInformation, jmConfirmation, jmCustom };

enum TTaskDialogIcon { tdiNone, tdiWarning, tdiError, tdiInformation, tdiConfirmation, tdiCustom, tdiShield };

enum TCommonButton {
  cbYes,
  cbNo,
  cbOK,
  cbCancel,
  cbAbort,
  cbRetry,
  cbIgnore,
  cbAll,
  cbNoToAll,
  cbYesToAll,
  cbHelp,
  cbClose
};
inline constexpr int CommonButtonCount = cbClose + 1;
// Set of TCommonButton, bit n = member n (3 = Yes and No, 4 = OK).
using TCommonButtons = std::uint16_t;
constexpr TCommonButtons buttonBit(TCommonButton b) { return static_cast<TCommonButtons>(1u << b); }
constexpr bool hasButton(TCommonButtons Set, TCommonButton b) { return (Set & buttonBit(b)) != 0; }

enum TDialogPosition { dpScreenCenter, dpDesktopCenter, dpMainFormCenter, dpOwnerFormCenter, dpDesigned };

// Modal results: 0 none, 1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore, 6 Yes, 7 No,
// 8 All, 9 No to All, 10 Yes to All.
enum ModalResult : int { mrNone, mrOk, mrCancel, mrAbort, mrRetry, mrIgnore, mrYes, mrNo, mrAll, mrNoToAll, mrYesToAll };
