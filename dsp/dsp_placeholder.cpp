// Placeholder until the signal-processing blocks land.
