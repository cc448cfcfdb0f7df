#pragma once
// The skin archive inside the executable: a ZIP held as the resource of type "ZIPRES"
// and identifier 101. UI-thread only.
#include <memory>

#include "ui/skin_source.h"

namespace bv {

inline constexpr const char* kSkinResourceType = "ZIPRES";
inline constexpr int kSkinResourceId = 101;

// The embedded archive, or null when the resource is missing or unreadable.
std::shared_ptr<ui::ISkinSource> OpenSkinArchive();

// Makes the embedded archive the source of every window's skin. When it cannot be
// found, shows "Load Resource Error" and returns false; windows then have no controls.
bool InstallSkinArchive();

}  // namespace bv
