// Library start-up and shut-down.
