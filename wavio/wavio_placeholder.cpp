// Placeholder until the WAV library lands.
