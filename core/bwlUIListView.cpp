#include "core/bwlUIListView.h"

void EnableListViewGroupView(ListViewGroups& listView, bool on) { listView.SetGroupViewEnabled(on); }
