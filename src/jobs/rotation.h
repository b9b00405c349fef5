#pragma once

#include <string>

#include "jobs/dates.h"
#include "jobs/job_engine.h"

namespace dravelkent {

// Returns true when the job's base name or extension holds "*": the job
// transfers its whole source folder tree instead of one file.
bool IsTreeJob(const Job& job);

// Today's rotation of |job| into its open |target| folder (null when it
// could not be made or opened: that failure was reported then), dated by
// |dates|. The source folder is opened here. A wildcard job transfers its
// whole source folder tree (TransferTree, with today as the date text of
// the names it writes); any other moves its one file to its destination
// (the last-run name with retention days, else today's name), never
// replacing a file there, or in copy mode copies it there when it is newer
// (IsSourceNewer) than the last-run name, a link being judged and copied
// by the file it leads to. Shows each progress text ("%s.%s を移動中",
// "%s.%s をコピー中", "%s.%s は更新されていません") in the status line and
// keeps the last in run->work_message. Every failure is reported once; with
// message boxes on, a failed file is also shown as "%sの処理に失敗しました"
// with the source path (which then is the progress text), and a tree with
// failures as one message. What was written is recorded in run->fresh and
// told to the action log.
void RotateJob(const RunContext& context, const Job& job,
               const RunDates& dates, const Folder* target, RunState* run);

}  // namespace dravelkent
