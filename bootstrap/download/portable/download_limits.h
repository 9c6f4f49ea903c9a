// Bounds on what a server may make the download worker wait for or hold:
// time-outs of every transfer, ceilings on what a response may announce or
// grow to, and how many redirects a transfer follows.
#pragma once

#include <stdint.h>

namespace tovik {

struct DownloadLimits {
  // Milliseconds to establish a connection.
  uint32_t connectTimeoutMs;
  // Milliseconds a request may take to go out.
  uint32_t sendTimeoutMs;
  // Milliseconds a transfer may go without receiving a byte (the response
  // headers included). A server that keeps sending, however slowly, is not
  // cut off by it.
  uint32_t receiveTimeoutMs;
  // Largest runtime installer the server may announce (bytes).
  uint32_t installerCeiling;
  // Largest detached signature the server may announce or send (bytes).
  uint32_t signatureCeiling;
  // Largest CRL one address may deliver (bytes), and how long its whole
  // transfer may take, however slowly the bytes arrive (milliseconds).
  uint32_t crlCeiling;
  uint32_t crlTotalMs;
  // Redirects one transfer follows; the next one fails it.
  uint32_t maxRedirects;
  // Further requests of one file after a connection that could not be made
  // or a status that invites another try (408, 429, 500, 502, 503, 504),
  // and the wait before the first of them (doubled for each next one).
  uint32_t maxRetries;
  uint32_t retryWaitMs;
  // Longest Retry-After (seconds in the response) that is honoured; a
  // longer one is cut to this.
  uint32_t retryAfterCapMs;
  // Requests for the rest of one file after its body stopped early, and the
  // wait before each.
  uint32_t maxResumptions;
  uint32_t resumeWaitMs;
};

// The bounds of the product.
constexpr DownloadLimits kDownloadLimits = {
    30000,                // connect
    60000,                // send
    60000,                // without a received byte
    1024u * 1024 * 1024,  // installer: 1 GiB
    1024u * 1024,         // signature: 1 MiB
    16u * 1024 * 1024,    // CRL: 16 MiB
    15000,                // CRL: whole transfer
    8,                    // redirects
    2,                    // retries
    2000,                 // first wait before a retry (then 4000)
    10000,                // longest Retry-After honoured
    3,                    // resumptions or restarts
    1000,                 // wait before each
};

// The bounds in force: kDownloadLimits, unless a test build replaced them.
const DownloadLimits& ActiveDownloadLimits();

// Test builds only (defined in download_limits_override.cc, which only the
// test libraries link): replaces the bounds in force until the next call;
// null restores kDownloadLimits. Not safe while a transfer runs.
void OverrideDownloadLimits(const DownloadLimits* limits);

}  // namespace tovik
