// Keeps the support library non-empty while every helper is header-only.
