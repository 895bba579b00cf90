#pragma once

// The crash reporter's cipher: Blowfish on 8-byte blocks in a standard, a
// raw-word and a counter mode, and base64. The settings store turns stored
// passwords into plain text with them; the uploads use base64 for their logins.
//
// Only whole blocks are processed: a tail shorter than 8 bytes stays as it is.
// An empty key stands for "no password": nothing is enciphered with it and
// DecryptText gives empty text.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zeb {

struct BlowfishTables {
  std::array<std::uint32_t, 18> p;
  std::array<std::array<std::uint32_t, 256>, 4> s;
};

// The standard key schedule over the key's bytes, taken cyclically. False (and
// the tables untouched) for an empty key.
bool BlowfishKey(std::string_view key, BlowfishTables& tables);

// One block through the 16 rounds, enciphering or deciphering.
void BlowfishBlock(std::uint32_t& left, std::uint32_t& right, const BlowfishTables& tables, bool encrypting);

// Every whole block of `data` in place. With a counter (low or high not zero):
// counter mode, where enciphering and deciphering are the same operation; else
// raw-word mode (each block read as one little-endian 64-bit number, high word
// left) or standard mode (two big-endian words), in the direction asked for.
// False when the key is empty; the data is then unchanged.
bool CryptBlocks(std::span<std::uint8_t> data, bool encrypting, bool rawWords, std::uint32_t counterLow,
                 std::uint32_t counterHigh, std::string_view key);

// Deciphers `text` in place (counter mode with a counter, standard mode
// without) and removes its padding: a last byte n from 1 to 8 whose n - 1
// predecessors all equal n. Empty text stays empty; an empty key empties it.
void DecryptText(std::string& text, std::string_view key, std::uint32_t counterLow, std::uint32_t counterHigh);

// Raw-word mode without counter.
bool EncryptBlocksRaw(std::span<std::uint8_t> data, std::string_view key);
bool DecryptBlocksRaw(std::span<std::uint8_t> data, std::string_view key);

// A stored password from its base64-decoded bytes: deciphered with the server
// name, then with the account name. Empty when either name is empty.
std::string DecryptStoredPassword(std::span<const std::uint8_t> cipher, std::string_view account,
                                  std::string_view server);

// Base64 with the standard alphabet, "=" padding and no line breaks.
std::string Base64Encode(std::span<const std::uint8_t> bytes);
std::string Base64EncodeText(std::string_view text);
// Text whose length is not a multiple of 4 gives nothing. A byte outside the
// alphabet ("=" included) ends the output: as the fourth byte of a group it
// leaves that group two bytes, as the third one byte, earlier none.
std::vector<std::uint8_t> Base64Decode(std::string_view text);
std::string Base64DecodeText(std::string_view text);

}  // namespace zeb
