// A precompiled header needs a target with a source of its own; this is it.
