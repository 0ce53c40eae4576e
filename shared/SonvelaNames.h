#pragma once

// Hands the platform layer the names Sonvela is known by (its sound server connection, its
// preferences and data folders, its login window, its launched-hidden variable). Each program
// calls it first thing, before another thread starts.
void useSonvelaNames();
