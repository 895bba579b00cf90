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
  for (const TAceDescription& d : DescribeAcl(sddl, computer)) {
    SecurityTree::Node account = tree.AddChild(nullptr, d.Account, accountImage);
    auto category = [&](const char* text, const std::vector<std::string>& leaves) {
      SecurityTree::Node node = tree.AddChild(account, text, categoryImage);
      for (const std::string& leaf : leaves) tree.AddChild(node, leaf, leafImage);
    };
    if (!d.TypeName.empty()) category("ACE Type", {d.TypeName});
    if (!d.Flags.empty()) category("ACE Flags", d.Flags);
    category("Rights", d.Rights);
    if (!d.ObjectGuid.empty()) category("Object GUID", {d.ObjectGuid});
    if (!d.InheritGuid.empty()) category("Inherit GUID", {d.InheritGuid});
  }
}
