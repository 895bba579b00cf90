#include "core/kxSecurityGUI.h"

#include "core/kxSecurity.h"
#include "platform/Registry.h"

void ShowKeySecurity(platform::HKEY root, const std::string& keyPath, SecurityTree& tree, int accountImage,
                     int categoryImage, int leafImage, TRegistryView view) {
  tree.BeginUpdate();
  tree.Clear();
  {
    TMyRegistry reg;
    reg.SetView(view);
    reg.SetRootKey(root);
    TRegKeyInfo info;
    if (reg.OpenKeyReadOnly(keyPath) && reg.GetKeyInfo(info)) {
      std::string hint;
      for (const std::string& line : KeyInfoLines(info)) hint += line + "\r\n";
      tree.SetHint(hint);
    }
  }
  try {
    FillAceTree(kxGetRegistrySecurityString(root, keyPath, platform::DACL_SECURITY_INFORMATION, view), tree,
                accountImage, categoryImage, leafImage, {});
  } catch (...) {
    // An unreadable descriptor leaves the tree as far as it was filled.
  }
  tree.EndUpdate();
}

void FillAceTree(const std::string& sddl, SecurityTree& tree, int accountImage, int categoryImage, int leafImage,
                 const std::string& computer) {
  std::string prefix, flags;
  std::vector<std::string> aces;
  SplitSddlAcl(sddl, prefix, flags, aces);
  for (const std::string& ace : aces) {
    const TAceFields f = ParseAceString(ace);
    SecurityTree::Node account = tree.AddChild(nullptr, SidToAccountName(f.AccountSid, computer), accountImage);
    auto category = [&](const char* text, const std::vector<std::string>& leaves) {
      SecurityTree::Node node = tree.AddChild(account, text, categoryImage);
      for (const std::string& leaf : leaves) tree.AddChild(node, leaf, leafImage);
    };
    if (!f.Type.empty()) category("ACE Type", {AceTypeName(f.Type)});
    if (!f.Flags.empty()) category("ACE Flags", SplitNameList(AceFlagsText(f.Flags)));
    category("Rights", SplitNameList(AccessRightsText(f.Rights, 0)));
    if (!f.ObjectGuid.empty()) category("Object GUID", {f.ObjectGuid});
    if (!f.InheritGuid.empty()) category("Inherit GUID", {f.InheritGuid});
  }
}
