#include "install/credentials.h"

#include "credential_store.h"

StoreCredentials UnscrambleCredentials(const std::string& store, uint64_t mask) {
  StoreCredentials keys;
  if (store.size() < 4) return keys;
  std::string kept = store.substr(0, 1) + store.substr(4);
  for (size_t p = 0; p < kept.size(); ++p) {
    bool toSecret = (p <= 40 && ((mask >> p) & 1u) != 0) || p >= 49;
    (toSecret ? keys.accessKeySecret : keys.accessKeyId).push_back(kept[p]);
  }
  return keys;
}

StoreCredentials BuildCredentials() { return UnscrambleCredentials(MORVANTIS_CREDENTIAL_STORE, MORVANTIS_CREDENTIAL_MASK); }
