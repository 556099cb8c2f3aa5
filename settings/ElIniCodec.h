// The two file forms of the options store, as functions between bytes and a tree; no file
// is touched here.
//
// Text form (the default). Bytes, no byte-order mark; the writer ends lines with CR LF,
// the reader splits at CR LF, lone CR and lone LF and stops at a zero byte:
//
//   ;Automatically generated file. DO NOT MODIFY!!!     Comment + WarningMessage
//   Count=3                                             root values, no header
//
//   [Window]                                            every key: empty line, header
//   Visible=false                                       Boolean: true / false
//   Title=Main                                          text, never quoted or escaped
//
//   [Window\Parts]
//   Data=454C 2 0A FF                                   bytes: "454C ", hex length, bytes
//   Items[0]=first                                      list: Name[index]=item
//   Items[1]=second
//
// Reading decides a value's type from its text alone: TRUE/FALSE in any case is a
// Boolean, "0.0" an eight-byte value, a decimal that prints back the same an integer,
// "454C..." a byte block, anything else a text. A line without separator is a nameless
// value, named "#" and its line number. Comments are dropped; a save writes the tree anew.
//
// Binary form (BinaryMode). Records, integers 32-bit little-endian, texts as a signed
// length and that many bytes:
//
//   key record    01, path                       (the root's path is empty)
//   value record  00, name, type (1..6), payload length, payload
//
// with payloads 1: one byte (non-zero is true), 2: the integer, 3: a text, 4: one text per
// item, 5: block length then the bytes, 6: the 8 bytes, low half first.
//
// Neither reader allocates more than its input holds, whatever a length in it says.
#pragma once

#include "ElIniTree.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace cantorell {

// The binary text of a byte block: "454C ", the length in hex, then each byte as two hex
// digits and a blank.
std::string BinaryToText(std::string_view bytes);
// Reads a binary text back; never yields more bytes than the text holds.
std::string TextToBinary(std::string_view text);
// Integer text conversion as the store's text form uses it: leading blanks, an optional
// sign, decimal digits or hexadecimal digits after "$" or "0x"; signed 32-bit.
bool TextToInt(std::string_view text, int32_t& value);
// A signed 32-bit integer in the little-endian order both the binary form and the
// registry's numbers use.
void AppendInt32Le(std::string& out, int32_t value);
int32_t Int32LeAt(const char* bytes);

// Splits a value line into name and value; false when it holds no separator outside
// quotes (a nameless value). A comment string outside quotes ends the line.
bool SplitIniLine(std::string_view line, const TElIniFormat& format, std::string& name,
                  std::string& value);
using TElLineSplitter =
    std::function<bool(std::string_view line, std::string& name, std::string& value)>;

// Reads the text form into `tree`, which should be empty; sections open through the tree,
// within the key budget of the text's size.
void ReadIniText(std::string_view text, const TElIniFormat& format, const TElLineSplitter& split,
                 TElIniTree& tree);
std::string WriteIniText(const TElIniEntry& root, const TElIniFormat& format);

// Reads the binary form into `tree`; an input that ends inside a record, or whose record
// is too short for its type, throws EElFileError naming `source`.
void ReadIniBinary(std::string_view bytes, const TElIniFormat& format, const std::string& source,
                   TElIniTree& tree);
std::string WriteIniBinary(const TElIniEntry& root, const TElIniFormat& format);

} // namespace cantorell
