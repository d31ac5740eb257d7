// An ASPI backend for unit tests of the request layer: it keeps a copy of
// every request block as it was handed over, lets a test answer each request
// (status byte and data), and completes it inline, later, from a thread of
// its own, or not at all. A refusal can come with a post too, inline or
// later, as some ASPI layers do.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "platform/aspi_backend.h"

struct RecordedRequest {
  SRB_ExecSCSICmd block;                // the block as the backend received it
  std::vector<std::uint8_t> out_data;   // the bytes of a WRITE(10) buffer
};

class RecordingBackend : public platform::AspiBackend {
 public:
  // Fills the data buffer of the request and returns the status byte to post.
  using Responder = std::function<std::uint8_t(SRB_ExecSCSICmd& srb)>;

  // Inline: posts inside send and returns SS_COMP. Refuse: returns `refusal`
  // and posts nothing. RefuseAndPost: posts inside send, then returns
  // `refusal`. Deferred / RefuseAndDefer: holds the block in `deferred` for
  // the test to post (or never) and returns SS_PENDING / `refusal`.
  // Thread: answered and posted from a new thread, after SS_PENDING.
  // CompleteAndDefer: answered inside send, which returns SS_COMP, the post
  // held back in `deferred` as with Deferred.
  enum class Completion { Inline, Refuse, RefuseAndPost, Deferred, RefuseAndDefer, Thread, CompleteAndDefer };

  std::uint32_t support_word = 0x0101;
  Responder responder = [](SRB_ExecSCSICmd&) -> std::uint8_t { return SS_COMP; };
  Completion completion = Completion::Inline;
  std::uint32_t refusal = SS_INVALID_SRB;  // returned when refusing
  std::vector<RecordedRequest> requests;
  std::atomic<SRB_ExecSCSICmd*> deferred{nullptr};  // held back by Deferred

  int support_queries = 0;
  std::uint32_t max_transfer = 128;  // max_transfer_sectors of every target
  // The layer to look through next (none when empty).
  std::function<std::unique_ptr<platform::AspiBackend>()> next;

  ~RecordingBackend() override;

  std::uint32_t support_info() override {
    ++support_queries;
    return support_word;
  }
  std::uint32_t send(SRB_ExecSCSICmd& srb) override;
  std::uint32_t max_transfer_sectors(int, int) override { return max_transfer; }
  std::unique_ptr<platform::AspiBackend> next_layer() override { return next ? next() : nullptr; }

 private:
  std::vector<std::thread> posters_;
};

// Posts the block held back by a Deferred or RefuseAndDefer backend, from
// the calling thread, and returns it.
SRB_ExecSCSICmd* post_held_request(RecordingBackend& backend);

// Installs a fresh RecordingBackend for the current test and returns it. The
// platform owns it until the next installation.
RecordingBackend& install_recording_backend();

// A standard INQUIRY answer with the given 24-byte model text at bytes 8-31.
void fill_inquiry_data(SRB_ExecSCSICmd& srb, const char* model);
