// The questions a run asks before it writes, typed: the front end shows
// them its own way (or answers them from its options) and says yes or no.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum QuestionKind {
  QUESTION_NOTICE,    // the caution notice before a write
  QUESTION_PARTITION, // a partition or mount point named: read its disk instead?
  QUESTION_COLLISION, // the new signature is already another disk's
  QUESTION_REWRITE,   // the last question: old becomes new on this disk
};

// A disk as a question names it.
struct QuestionDisk {
  int number = -1; // -1: named by path only
  std::string path;
  std::string which; // model, serial or backing file: what tells it from an equal disk
};

struct Question {
  QuestionKind kind = QUESTION_NOTICE;
  QuestionDisk disk;                 // PARTITION: the disk read instead; REWRITE: the target
  std::string named;                 // PARTITION: what was named
  bool mount_point = false;          // PARTITION: named is a mount point
  uint32_t old_signature = 0;        // REWRITE
  uint32_t new_signature = 0;        // REWRITE, COLLISION
  std::vector<QuestionDisk> holders; // COLLISION: the disks that carry it already
};

class Asker {
public:
  virtual ~Asker() = default;
  // True for yes.
  virtual bool Ask(const Question &question) = 0;
};
