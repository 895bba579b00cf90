#pragma once

// The security tree of a key: one node per entry of the key's DACL with its
// type, flags, rights and GUIDs below, and the key's sizes as the tree's hint.
// The window owns the tree control; this unit only clears and fills it
// through SecurityTree.

#include <string>

#include "core/bwlRegistry.h"

// The tree control as the filling sees it.
class SecurityTree {
public:
  using Node = void*;
  virtual ~SecurityTree() = default;
  virtual void BeginUpdate() = 0;
  virtual void EndUpdate() = 0;
  virtual void Clear() = 0;
  // Appends a node as the last child of `parent` (null: a top-level node),
  // with `image` as its normal and selected image.
  virtual Node AddChild(Node parent, const std::string& text, int image) = 0;
  // The hint lines, each ended by CR LF; shown from then on.
  virtual void SetHint(const std::string& hint) = 0;
};

// Clears the tree and fills it with the key's DACL. The hint becomes the
// key's sizes when the key opens and tells them; otherwise it stays as it
// was. A key whose security cannot be read leaves the tree empty (or as far
// as it was filled); nothing is thrown.
void ShowKeySecurity(platform::HKEY root, const std::string& keyPath, SecurityTree& tree, int accountImage,
                     int categoryImage, int leafImage, TRegistryView view);
// Appends the nodes of every entry of an ACL text; accounts are looked up on
// `computer` (empty: this one).
void FillAceTree(const std::string& sddl, SecurityTree& tree, int accountImage, int categoryImage, int leafImage,
                 const std::string& computer);
