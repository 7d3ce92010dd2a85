#pragma once
// Uploading what a drive logged where the record only adds to what is known: a run that ended
// before its upload, looked at to say why it failed.

#include "host/zel_errors.h"
#include "host/zel_logger.h"

// Reads every point the drive still holds into the logger's plot. The channels' scales may rest
// on parameters the setup lacks; nobody hears of them, and the points read what the scales
// make of them. 0 when the upload did not begin.
inline int ZelUploadQuietly(CZel_SingleAxisLogger& logger) {
  ZelQuietErrors quiet;
  if (!logger.BeginUploadData()) return 0;
  while (logger.ReadPoint(nullptr)) {
  }
  logger.EndUploadData();
  return 1;
}
