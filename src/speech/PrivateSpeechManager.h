#pragma once
// A second speech manager for a window's test buttons, so testing a voice never disturbs the
// main one: no preprocessor, no exception boxes, the main manager's settings section, its own
// adapters (each only when the installation allows that interface), copies of the main
// manager's voices and engines, and the main manager's default voice.
#include "speech/TBaseTTSUnit.h"

#include <memory>

std::unique_ptr<TBaseTTS> CreatePrivateSpeechManager(const TBaseTTS& main);
