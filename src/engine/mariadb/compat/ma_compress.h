#pragma once

// Some packages of the client library ship a plugin header that includes this file without
// shipping it. Only its context type is named there, and only compression plugins use it.
typedef struct st_ma_compress_ctx ma_compress_ctx;
