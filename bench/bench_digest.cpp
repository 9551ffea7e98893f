// Digest throughput under Wine, for bench/bench.sh.
//   bench-digest program PATH   Sha256OfFile
//   bench-digest minimal PATH   the least a CryptoAPI program does
//                               (minimal_work.h)
//   bench-digest held PATH      the installer's verification step of an
//                               unsigned setup: Sha256OfFile of the held file
//   bench-digest signed PATH    the same step of a signed setup: the digest,
//                               then the publisher check against the file's
//                               own signer
// Prints "seconds=S sha256=HEX" for the timed work alone and exits with 0, or
// prints the failure and exits with 1.

#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>

#include "files/digest.h"
#include "files/held_file.h"
#include "files/signature.h"
#include "bench/minimal_work.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench-digest program|minimal PATH\n");
        return 2;
    }
    const std::wstring mode = argv[1];
    try {
        if (mode == L"held" || mode == L"signed") {
            // The setup's publisher is read once per run, before the step: here
            // the file's own, so that the check passes.
            const quorvane::HeldFile held(argv[2]);
            const quorvane::Publisher setup = quorvane::ReadPublisher(held.get());
            const LARGE_INTEGER start = quorvane::bench::Now();
            const std::string digest = quorvane::Sha256OfFile(held);
            if (mode == L"signed") quorvane::VerifyInstallerPublisher(held, argv[2], setup);
            std::printf("seconds=%.6f sha256=%s\n", quorvane::bench::SecondsSince(start), digest.c_str());
            return 0;
        }
        const LARGE_INTEGER start = quorvane::bench::Now();
        const std::string digest =
            mode == L"minimal" ? quorvane::bench::MinimalSha256(argv[2]) : quorvane::Sha256OfFile(argv[2]);
        std::printf("seconds=%.6f sha256=%s\n", quorvane::bench::SecondsSince(start), digest.c_str());
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "digest failed: %s\n", failure.what());
        return 1;
    }
}
