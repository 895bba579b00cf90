#pragma once

// A list view that can show its items in groups. The application implements
// it for its list controls.
class ListViewGroups {
public:
  virtual ~ListViewGroups() = default;
  virtual void SetGroupViewEnabled(bool enabled) = 0;
};

void EnableListViewGroupView(ListViewGroups& listView, bool on);
