#pragma once

#include "DbError.h"

// A connection refused to keep the password or the link safe; its text says why and
// what the user can do.
class LinkRefusal : public DbError {
 public:
  using DbError::DbError;
};

// How refusals name the encryption settings: as the login window shows them, or as
// klarifeld-clean's options are given. The window's words unless told; each engine's
// link security words its refusals so.
enum class SettingWords { Window, Options };
void UseSettingWords(SettingWords words);
