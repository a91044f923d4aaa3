// The logo upload: the header, then the packed dot rows one by one.
#pragma once

#include "Session.h"

#include <vector>

namespace kkm {

// Kind 0 is printed at the head of a receipt, 1 at its foot. Every row has
// BytesPerRow bytes. Returns true when the register took every row; the
// first refusal is written in red and ends the upload.
bool LogoUploadJob(TJobContext& Job, std::uint8_t Kind, std::uint8_t BytesPerRow,
                   const std::vector<TArrayOfByte>& Rows);

} // namespace kkm
