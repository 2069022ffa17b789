// The holder's photo of an ID card read, as pages receive it.
#pragma once

#include <json/json.h>

// Adds to data: "PhotoRaw", base64 of the len bytes of record as read, and
// "Photo", the decoded 102 x 126 image as a PNG data URL; when the record
// does not decode, "Photo" is "" and "PhotoError" the decoder's result as
// decimal text.
void AddIdPhoto(const unsigned char *record, int len, Json::Value &data);
