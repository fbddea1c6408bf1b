#pragma once

// Deletes every file of the application folder whose name contains "tmp_" in small letters: the
// AVI engine leaves its work files there under such names. A file that cannot be deleted is
// skipped; a folder that cannot be listed ends the clean-up silently. Folders are left alone.
void ApagarTemporarios();
