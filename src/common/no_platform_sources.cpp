// Keeps the platform library well-formed while a build has no platform sources of its own.
