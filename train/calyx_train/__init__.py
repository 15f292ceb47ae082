"""Training toolkit for the calyx speech-enhancement network."""
