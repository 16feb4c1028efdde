// Key-agreement values computed independently, shared by the cipher and engine tests.
#pragma once

// Computed with Python, independently of the code under test:
//   p = int(<DhPrime hex>, 16); pow(5, x, p); pow(Z, x, p)
namespace dh {

inline const char kPrivate[] =  // 2^446 | b"client private value for tests."
    "40000000000000000000000000000000000000000000000000636c69656e7420707269766174652076616c7565"
    "20666f722074657374732e";
inline const char kPublic[] =
    "427ec0ded1daf1c6a8f04de457b5eb7024a8b5b327d70fff17359527a29b512eb2b6202af6bd4f7330fe0740"
    "9b1edfbaa56d85633e141503";
inline const char kPeerPublic[] =  // 5^z, z = 2^446 | b"server private value for tests."
    "36d7f21bafcd6e9b8961e925db76a5e1bbc8e0452802853866fa576911c47528966dccb8bfa5a05ab2ad35f0"
    "2bc2a25aa3c2dc9a5cea74a5";
inline const char kSecret[] =
    "11c7d5f066e2b4264c012b6f4f4a8c4e347a4940f004c497b7a575d4c839dd91529468ba7b48be236f40a3b6"
    "4de239f8d28544257e35c24a";
// The first private value from kPrivate upwards whose public value has a leading zero byte.
inline const char kLeadingZeroPrivate[] =
    "40000000000000000000000000000000000000000000000000636c69656e7420707269766174652076616c7565"
    "20666f7220746573747334";
inline const char kLeadingZeroPublic[] =
    "00c9ec8afc2c6a73fe544cffa05650266a7b6ea68a2edaa82f8f5aafd6ddeb7e79d40a5f5a2e43fac23e41e0"
    "21401877e608b2253881de63";
// A peer value giving kPrivate a secret with a leading zero byte (55 bytes).
inline const char kShortSecretPeer[] =
    "3b1e9155be2e1ecbcc3b7e67e5275962605b996950ee55c6493da51b799130b2b0604a9b94efabb2958e2395"
    "fd23ccf245a70c8f6914470f";
inline const char kShortSecret[] =  // 55 bytes, its leading zero dropped
    "4bf800fad4a82884015d37a9945c7f6f998039c65dfe327b98624615c35cab43682379f680d09cae26b91266"
    "4abc51004928179f60c5f2";
// The peer's private value behind kShortSecretPeer, and the session key folded from kShortSecret.
inline const char kShortSecretPeerPrivate[] =
    "4000000000000000000000000000000000000000000000000073657276657220707269766174652076616c75"
    "6520666f72207465737473dc";
inline const char kShortSecretKey[] = "4c5537a36804a7f3";
}  // namespace dh
