#pragma once

// The image list `ilData16` of the main window: 16 x 16 images by index.
// Indices that carry meaning in the key tree: 0 "My Computer"; 1 and 2 a key
// (image, selected image) in the default view; 15/16 in the 32-bit view;
// 17/18 in the 64-bit view; 8 a .reg file's top node; 9 a remote computer.

#include <QIcon>

inline constexpr int kDataImageCount = 19;

// The image at `index` (a null icon for an index outside the list).
QIcon dataImage(int index);
// A node's icon: `image` normally, `selectedImage` while selected.
QIcon dataNodeIcon(int image, int selectedImage);
