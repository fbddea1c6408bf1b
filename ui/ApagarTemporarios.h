#pragma once

// Deletes the AVI engine's leftover work files from the application folder: files named "tmp_",
// 32 hexadecimal digits and ".avi" or ".wav" (qdx::WorkFileLock::isWorkFileName). A work file that
// this process or another running program of the application still uses holds a lock and is
// skipped, and so is one marked as holding a recording the user was told about
// (qdx::WorkFileLock::keepRecording); any other file of the folder, whatever its name, is left
// alone. A file that cannot be deleted is skipped; a folder that cannot be listed ends the clean-up
// silently.
void ApagarTemporarios();
