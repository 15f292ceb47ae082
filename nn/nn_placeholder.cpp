// Placeholder until the network subsystem lands.
