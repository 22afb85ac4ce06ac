// The store's access keys are kept in the executable only in scrambled form: a
// 57-character credential store and a 64-bit selection mask made at configure time.
#pragma once
#include <cstdint>
#include <string>

struct StoreCredentials {
  std::string accessKeyId;
  std::string accessKeySecret;
};

// Drops characters 1 to 3 of the store; of the 54 left, position p goes to the secret
// when p <= 40 and bit p of the mask is set, or when p >= 49, and to the key id otherwise.
StoreCredentials UnscrambleCredentials(const std::string& store, uint64_t mask);
// The credentials of this build.
StoreCredentials BuildCredentials();
