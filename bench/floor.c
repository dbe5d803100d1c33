// The least a scan can do on Linux, for the benchmark to compare against: read every folder
// with getdents64, describe every entry with one statx relative to its folder, open subfolders on
// the same file system with openat, add up sizes. No report, no links followed.
//
//   floor [-t THREADS] [-e ENTRIES] FOLDER
//
// THREADS (default 1) take folders from one shared stack, the newest first, and each reads a
// whole folder. With -e, a folder's entries are described in jobs of at most ENTRIES entries that
// any thread may take: several statx in flight within one folder, to see whether that pays.
//
// Invariants: the stack, the count of busy threads and the totals change only under the scan's
// lock. A folder's descriptor and listing are freed by the last of its jobs to finish.
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

enum { kBatchBytes = 16384 };

struct Folder {
  int descriptor;
  char* listing;  // every getdents64 record of the folder; NULL until it is read
  size_t length, capacity;
  long jobsLeft;
};

// Reading a folder (while its listing is NULL), or describing its records in [begin, end).
struct Job {
  struct Folder* folder;
  size_t begin, end;
};

struct Totals {
  uint64_t bytes, entries;
};

struct Scan {
  pthread_mutex_t lock;
  pthread_cond_t changed;  // waited on for a job to take, or for the scan to end
  struct Job* stack;
  size_t depth, capacity, busy;
  struct Totals totals;
  dev_t device;
  size_t entriesPerJob;  // 0: a whole folder per job
};

static int isDotEntry(const char* name) {
  return name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]));
}

static void* allocate(void* block, size_t bytes) {
  block = realloc(block, bytes);
  if (!block) {
    perror("floor");
    exit(1);
  }
  return block;
}

static void push(struct Scan* scan, struct Job job) {
  pthread_mutex_lock(&scan->lock);
  if (scan->depth == scan->capacity) {
    scan->capacity = scan->capacity ? 2 * scan->capacity : 64;
    scan->stack = allocate(scan->stack, scan->capacity * sizeof *scan->stack);
  }
  scan->stack[scan->depth++] = job;
  pthread_cond_signal(&scan->changed);
  pthread_mutex_unlock(&scan->lock);
}

static void pushFolder(struct Scan* scan, int descriptor) {
  struct Folder* folder = allocate(NULL, sizeof *folder);
  *folder = (struct Folder){.descriptor = descriptor};
  push(scan, (struct Job){.folder = folder});
}

static void finishJob(struct Scan* scan, struct Folder* folder) {
  pthread_mutex_lock(&scan->lock);
  long left = --folder->jobsLeft;
  pthread_mutex_unlock(&scan->lock);
  if (left > 0) return;
  close(folder->descriptor);
  free(folder->listing);
  free(folder);
}

static void describe(struct Scan* scan, struct Job job, struct Totals* totals) {
  struct Folder* folder = job.folder;
  for (size_t offset = job.begin; offset < job.end;) {
    struct dirent64* record = (struct dirent64*)(folder->listing + offset);
    offset += record->d_reclen;
    ++totals->entries;
    if (isDotEntry(record->d_name)) continue;
    struct statx status;
    if (statx(folder->descriptor, record->d_name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
              STATX_TYPE | STATX_SIZE | STATX_MTIME, &status) != 0) {
      continue;
    }
    if (!S_ISDIR(status.stx_mode)) {
      totals->bytes += status.stx_size;
    } else if (makedev(status.stx_dev_major, status.stx_dev_minor) == scan->device) {
      int child = openat(folder->descriptor, record->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      // Out of descriptors the totals would be short: fail rather than be wrong.
      if (child < 0) {
        perror(record->d_name);
        exit(1);
      }
      pushFolder(scan, child);
    }
  }
  finishJob(scan, folder);
}

static void readListing(struct Folder* folder) {
  long count;
  do {
    if (folder->capacity - folder->length < kBatchBytes) {
      folder->capacity = 2 * folder->capacity + kBatchBytes;
      folder->listing = allocate(folder->listing, folder->capacity);
    }
    count =
        syscall(SYS_getdents64, folder->descriptor, folder->listing + folder->length, kBatchBytes);
    if (count > 0) folder->length += (size_t)count;
  } while (count > 0);
}

static size_t recordLength(const struct Folder* folder, size_t offset) {
  return ((const struct dirent64*)(folder->listing + offset))->d_reclen;
}

// Reads the folder, then describes its entries: all of them here, or the first job's worth here
// and the rest as jobs for any thread.
static void readFolder(struct Scan* scan, struct Folder* folder, struct Totals* totals) {
  readListing(folder);
  size_t perJob = scan->entriesPerJob, records = 0;
  for (size_t offset = 0; perJob && offset < folder->length;
       offset += recordLength(folder, offset)) {
    ++records;
  }
  // No other thread knows the folder until its second job is pushed.
  folder->jobsLeft = records > perJob ? (long)((records + perJob - 1) / perJob) : 1;
  struct Job first = {folder, 0, folder->length};
  if (folder->jobsLeft > 1) {
    size_t begin = 0, count = 0;
    for (size_t offset = 0; offset < folder->length;) {
      offset += recordLength(folder, offset);
      if (++count % perJob != 0 && offset < folder->length) continue;
      struct Job job = {folder, begin, offset};
      if (begin == 0) {
        first = job;
      } else {
        push(scan, job);
      }
      begin = offset;
    }
  }
  describe(scan, first, totals);
}

static void* work(void* data) {
  struct Scan* scan = data;
  pthread_mutex_lock(&scan->lock);
  for (;;) {
    while (scan->depth == 0 && scan->busy > 0) pthread_cond_wait(&scan->changed, &scan->lock);
    if (scan->depth == 0) break;  // nothing to take and nothing running that could add any
    struct Job job = scan->stack[--scan->depth];
    ++scan->busy;
    pthread_mutex_unlock(&scan->lock);
    struct Totals totals = {0, 0};
    if (job.folder->listing) {
      describe(scan, job, &totals);
    } else {
      readFolder(scan, job.folder, &totals);
    }
    pthread_mutex_lock(&scan->lock);
    scan->totals.bytes += totals.bytes;
    scan->totals.entries += totals.entries;
    if (--scan->busy == 0 && scan->depth == 0) pthread_cond_broadcast(&scan->changed);
  }
  pthread_mutex_unlock(&scan->lock);
  return NULL;
}

// As many descriptors as allowed: every folder waiting on the stack holds one open.
static void raiseDescriptorLimit(void) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int main(int argc, char** argv) {
  struct Scan scan = {.lock = PTHREAD_MUTEX_INITIALIZER, .changed = PTHREAD_COND_INITIALIZER};
  long threads = 1;
  for (int option; (option = getopt(argc, argv, "t:e:")) != -1;) {
    if (option == 't') {
      threads = atol(optarg);
    } else if (option == 'e') {
      scan.entriesPerJob = (size_t)atol(optarg);
    } else {
      return 2;
    }
  }
  if (optind != argc - 1 || threads < 1) return 2;
  raiseDescriptorLimit();
  int top = open(argv[optind], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat status;
  if (top < 0 || fstat(top, &status) != 0) return 1;
  scan.device = status.st_dev;
  pushFolder(&scan, top);
  pthread_t* helpers = allocate(NULL, (size_t)threads * sizeof *helpers);
  for (long helper = 1; helper < threads; ++helper) {
    if (pthread_create(&helpers[helper], NULL, work, &scan) != 0) return 1;
  }
  work(&scan);
  for (long helper = 1; helper < threads; ++helper) pthread_join(helpers[helper], NULL);
  printf("%llu bytes in %llu entries\n", (unsigned long long)scan.totals.bytes,
         (unsigned long long)scan.totals.entries);
  return 0;
}
