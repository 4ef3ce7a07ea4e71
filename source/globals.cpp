// Shared state of the tool.
