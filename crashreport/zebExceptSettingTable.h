#pragma once

// The crash reporter's settings with their built-in values, in the order of the
// built-in table. X(name, kind, value): kind is Bool, Int or Text. Including
// this list in one place keeps the table, the typed accessors and the
// generator's table of this program in step.

#define ZEB_SETTINGS(X)                                                                  \
  X(Enabled, Bool, false)                                                                \
  X(NoSettings, Bool, true)                                                              \
  X(CheckFileCrc, Bool, true)                                                            \
  X(CheckFreeze, Bool, false)                                                            \
  X(FreezeTimeout, Int, 60)                                                              \
  X(PauseThreads, Bool, false)                                                           \
  X(AutoSave, Bool, true)                                                                \
  X(AutoSaveIfNotSent, Bool, true)                                                       \
  X(AutoSend, Bool, false)                                                               \
  X(AutoSendBox, Bool, false)                                                            \
  X(AutoClip, Bool, true)                                                                \
  X(PlWaitBox, Bool, true)                                                               \
  X(AutoContinue, Bool, false)                                                           \
  X(AutoRestart, Int, 0)                                                                 \
  X(AutoClose, Int, 0)                                                                   \
  X(AutoDelay, Int, 60)                                                                  \
  X(SendBtnVis, Bool, true)                                                              \
  X(SaveBtnVis, Bool, false)                                                             \
  X(PrintBtnVis, Bool, false)                                                            \
  X(ShowBtnVis, Bool, true)                                                              \
  X(ContinueBtnVis, Bool, true)                                                          \
  X(RestartBtnVis, Bool, true)                                                           \
  X(CloseBtnVis, Bool, true)                                                             \
  X(FocusedBtn, Int, 0)                                                                  \
  X(SendAssis, Text, "")                                                                 \
  X(SaveAssis, Text, "")                                                                 \
  X(PrintAssis, Text, "")                                                                \
  X(AutoShowBugRep, Bool, false)                                                         \
  X(UglyBtns, Bool, false)                                                               \
  X(MailAddr, Text, "")                                                                  \
  X(SendInBackgr, Bool, true)                                                            \
  X(MailAsSmtpServer, Bool, false)                                                       \
  X(MailAsSmtpClient, Bool, false)                                                       \
  X(UploadViaHttp, Bool, false)                                                          \
  X(MailViaMapi, Bool, true)                                                             \
  X(MailViaMailto, Bool, true)                                                           \
  X(SmtpServer, Text, "")                                                                \
  X(SmtpPort, Int, 25)                                                                   \
  X(SmtpAccount, Text, "")                                                               \
  X(SmtpPassword, Text, "")                                                              \
  X(HttpServer, Text, "")                                                                \
  X(HttpPort, Int, 80)                                                                   \
  X(HttpAccount, Text, "")                                                               \
  X(HttpPassword, Text, "")                                                              \
  X(MailFrom, Text, "")                                                                  \
  X(MailSubj, Text, "bug report")                                                        \
  X(MailBody, Text, "please find the bug report attached")                               \
  X(AttachBugRep, Bool, true)                                                            \
  X(AttachBugRepFile, Bool, true)                                                        \
  X(DelBugRepFile, Bool, true)                                                           \
  X(BugRepSendAs, Text, "bugreport.txt")                                                 \
  X(BugRepZip, Text, "")                                                                 \
  X(ScrShotDepth, Int, 0)                                                                \
  X(ScrShotAppOnly, Bool, true)                                                          \
  X(ScrShotSendAs, Text, "screenshot.png")                                               \
  X(ScrShotZip, Text, "")                                                                \
  X(AddAttachs, Text, "")                                                                \
  X(AddFields, Text, "")                                                                 \
  X(BugRepFile, Text, "bugreport.txt")                                                   \
  X(AppendBugReps, Bool, true)                                                           \
  X(BugRepFileSize, Int, 100000)                                                         \
  X(NoDupExcepts, Bool, true)                                                            \
  X(NoDupFreezes, Bool, true)                                                            \
  X(DupExceptDef, Int, 1)                                                                \
  X(DupFreezeDef, Int, 2)                                                                \
  X(ListThreads, Bool, true)                                                             \
  X(CpuRegs, Bool, true)                                                                 \
  X(StackDump, Bool, true)                                                               \
  X(ShowDisAsm, Bool, true)                                                              \
  X(HideUglyItems, Bool, false)                                                          \
  X(ShowRelAddrs, Bool, true)                                                            \
  X(ShowRelLines, Bool, true)                                                            \
  X(FormatDisAsm, Bool, false)                                                           \
  X(LimitDisAsm, Int, 5)                                                                 \
  X(Plugins, Text, "modules|processes|hardware")                                         \
  X(F1Classes, Text, "")                                                                 \
  X(F1NoBugRep, Bool, false)                                                             \
  X(F1NoScrShot, Bool, false)                                                            \
  X(F1NoHandlers, Bool, false)                                                           \
  X(F1NoSuspend, Bool, false)                                                            \
  X(F1ShowCfg, Int, 0)                                                                   \
  X(F1Assis, Text, "")                                                                   \
  X(F2Classes, Text, "")                                                                 \
  X(F2NoBugRep, Bool, false)                                                             \
  X(F2NoScrShot, Bool, false)                                                            \
  X(F2NoHandlers, Bool, false)                                                           \
  X(F2NoSuspend, Bool, false)                                                            \
  X(F2ShowCfg, Int, 0)                                                                   \
  X(F2Assis, Text, "")                                                                   \
  X(GnNoBugRep, Bool, false)                                                             \
  X(GnNoScrShot, Bool, false)                                                            \
  X(GnNoHandlers, Bool, false)                                                           \
  X(GnNoSuspend, Bool, false)                                                            \
  X(GnShowCfg, Int, 0)                                                                   \
  X(GnAssis, Text, "")                                                                   \
  X(TitleBar, Text, "%appname%")                                                         \
  X(ExceptMsg, Text, "An error occurred in the application.")                            \
  X(FrozenMsg, Text, "The application seems to be frozen.")                              \
  X(BitFaultMsg, Text, "The file \"%modname%\" seems to be corrupt!")                    \
  X(SendBtnTxt, Text, "send bug report")                                                 \
  X(SaveBtnTxt, Text, "save bug report")                                                 \
  X(PrintBtnTxt, Text, "print bug report")                                               \
  X(ShowBtnTxt, Text, "show bug report")                                                 \
  X(ContinueBtnTxt, Text, "continue application")                                        \
  X(RestartBtnTxt, Text, "restart application")                                          \
  X(CloseBtnTxt, Text, "close application")                                              \
  X(OkBtnTxt, Text, "&OK")                                                               \
  X(DetailsBtnTxt, Text, "&Details")                                                     \
  X(PlWaitTitle, Text, "Information")                                                    \
  X(PlWaitText, Text, "Please wait a moment...")                                         \
  X(SendBoxTitle, Text, "Sending bug report...")                                         \
  X(PrepAttMsg, Text, "Prepare attachments...")                                          \
  X(MxLookMsg, Text, "Searching for mail server...")                                     \
  X(ConnMsg, Text, "Connecting to server...")                                            \
  X(AuthMsg, Text, "Authentication...")                                                  \
  X(SendMailMsg, Text, "Sending mail...")                                                \
  X(FieldMsg, Text, "Setting fields...")                                                 \
  X(SendAttMsg, Text, "Sending attachments...")                                          \
  X(SendFinalMsg, Text, "Finalizing...")                                                 \
  X(SendFailMsg, Text, "Sorry, sending the bug report didn't work.")                     \
  X(VersionVar, Int, 0)
