// Removed once the settings and picture sources exist.
