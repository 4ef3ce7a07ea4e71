// Shared utilities of the controller model.
