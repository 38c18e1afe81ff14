// The one source of the library that holds the shared precompiled headers.
