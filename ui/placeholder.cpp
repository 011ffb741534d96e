// Replaced by the window sources.
