#pragma once

// Names that only the native registry interface sees in full. The 8-bit
// interface cuts a name at its first NUL, so a value or key "a<NUL>b" is
// listed as "a" there; the native interface lists it whole. These helpers
// merge the two listings and make sure both listings describe the same key.

#include <QString>
#include <QStringList>

#include <optional>

#include "core/bwlRegNative.h"
#include "platform/Registry.h"

// Merges the native names into the ordinary ones, in three passes over the
// native list:
//  a. (from the last to the first) a native name the ordinary list holds,
//     case ignored, is dropped;
//  b. (from the last to the first) a native name holding a NUL whose part
//     before the first NUL the ordinary list holds replaces that entry: the
//     cut entry is deleted and the full name appended;
//  c. when `appendNativeOnly`, every name left is appended in list order.
// The ordinary list then ends with the names that only the native interface
// sees, each NUL kept.
QStringList MergeNativeNames(QStringList ordinary, const QStringList& native, bool appendNativeOnly);

// The raw names the native object lists (values or sub-keys), as stored.
QStringList NativeValueNames(TNtRegistry& reg);
QStringList NativeKeyNames(TNtRegistry& reg);

// The full native name of an open key ("\REGISTRY\MACHINE\..."), or none.
std::optional<QString> NativeKeyName(platform::HKEY key);

// Whether the ordinary handle and the native object are open on the same key.
// They are not when the ordinary call was sent to another key (the 32-bit
// view's Wow6432Node); the native names then belong to a key the list does
// not show.
bool SameKey(platform::HKEY ordinary, const TNtRegistry& native);
