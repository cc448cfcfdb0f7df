#pragma once
// The recovery window's options that the user's settings keep, in section "Recovery" of
// the settings file (config.ini beside the program, or the user's own settings file for
// an installed program, as the language store has it):
//   HeicJpeg=1   also write a JPEG beside each recovered HEIC (or AVIF) picture
// Missing keys read as off. UI-thread only, like the language store.
#include "app/lang/language_store.h"

namespace bv {

class CRecoverJob;

struct RecoverySettings {
  bool heicJpeg = false;
};

// The settings file's value, else the shipped config.ini's, else off.
RecoverySettings ReadRecoverySettings(const lang::CLanguageStore& store);
// Writes into the settings file, touching nothing else of it. False when it cannot be
// written.
bool WriteRecoverySettings(const lang::CLanguageStore& store, const RecoverySettings& settings);
// Hands the options to a job before it starts.
void ApplyRecoverySettings(const RecoverySettings& settings, CRecoverJob& job);

}  // namespace bv
