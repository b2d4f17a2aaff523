#pragma once

// Verifies the extracted payload, lets the user choose the status-window mode
// and the skin, and extracts the chosen skin.
void InstallSkins();
