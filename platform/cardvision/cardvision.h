// libcardvision: text recognition of pictures on this workstation, for the service's IDCardOCR
// and ImageOCR requests. Recognition uses Tesseract with its Simplified Chinese data
// (chi_sim.traineddata), looked up in $TESSDATA_PREFIX when that is set and otherwise in the
// system's tessdata folder. Nothing is loaded until a picture is to be recognised: each call
// starts the engine, reads the picture and stops the engine again.
//
// Every entry takes the path of a picture (JPEG, PNG or BMP) and an output buffer, and returns
// 0 on success or a negative code, with the reason written into the output as UTF-8 text:
//   -1  the picture cannot be read
//   -2  the language data is missing
//   -3  the recognition engine cannot start
//   -4  (card entries) no field of that side of an identity card was recognised
// Outputs are cut to their capacity (at a character boundary) and always terminated.
// The entries may be called from several threads at once.
#pragma once

#define CARDVISION_EXPORT extern "C" __attribute__((visibility("default")))

// The recognised text of the picture, lines separated by "\n". `text` holds 1 MiB.
CARDVISION_EXPORT int GetJPEGInfo(const char* picture_path, char* text);

// The front of a resident identity card as "name|sex|nationality|birth date|address|ID number|",
// the birth date written as the card reader writes it (YYYYMMDD). A field that was not
// recognised is empty. `text` holds 1024 bytes.
CARDVISION_EXPORT int GetFrontInfo(const char* picture_path, char* text);

// The back of a resident identity card as "issuing authority|valid from|valid until|", the dates
// as YYYYMMDD and an unlimited card's end as "长期". `text` holds 1024 bytes.
CARDVISION_EXPORT int GetBackInfo(const char* picture_path, char* text);
