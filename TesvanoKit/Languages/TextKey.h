#pragma once

// Marks a text key kept in a table and looked up later, so that the extraction of keys for
// the translation files (scripts/check-texts) finds it. Expands to the key itself.
#define N_(key) key
