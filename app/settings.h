// The option word SettingsFlags in the registry of the local machine.
#pragma once

// Fills SettingsFlags from the registry; 0 when the key or value can't be read.
void LoadSettings();
// Writes SettingsFlags to the registry; failures are silent.
void SaveSettings();
