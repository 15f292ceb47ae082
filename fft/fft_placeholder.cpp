// Placeholder until the FFT library lands.
