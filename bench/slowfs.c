// A read-only mirror of a folder that answers like a distant file server, for the benchmark:
// every folder read (the listing, on its first readdir) and every attribute lookup (lookup,
// getattr) is a round trip that waits a set time, and up to a thousand requests are served at once,
// so that the waits overlap as they do on a server that answers many requests in parallel; or,
// with served=N, only N round trips are served at once and the others wait in its queue, as on a
// server whose queue fills. It counts the requests and the peak number of folder reads and of
// lookups in flight at once (queued ones included), and writes them to a file when it is
// unmounted.
//
//   slowfs SOURCE MOUNTPOINT -f -o delay=5,stats=/tmp/counts [-o noplus] [-o served=8]
//
// A listing carries its entries' attributes, as a file server's does, so a scan that describes
// what it has just listed costs no lookup; with noplus every entry costs one round trip more.
// Each mount starts with nothing cached in the kernel: mount afresh for every measured run.
//
// Invariant: the counters and the places being served change only under their lock.
#define FUSE_USE_VERSION 312
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

struct Settings {
  unsigned delayMs;
  unsigned served;  // round trips served at once; 0: as many as come
  char* statsPath;
  int noPlus;
  char* source;
};

struct Counters {
  pthread_mutex_t lock;
  long requests, folderReads, lookups;
  long folderReadsInFlight, peakFolderReads, lookupsInFlight, peakLookups;
  // Round trips being served, and where those that wait for a place are woken.
  unsigned serving;
  pthread_cond_t placeFreed;
};

struct Server {
  struct Settings settings;
  int sourceFolder;
  struct Counters counters;
};

static struct Server* server(void) {
  return fuse_get_context()->private_data;
}

// The mirrored path relative to the source folder: "/" is ".", "/a/b" is "a/b".
static const char* relative(const char* path) {
  return path[1] ? path + 1 : ".";
}

static void countRequest(void) {
  struct Counters* counters = &server()->counters;
  pthread_mutex_lock(&counters->lock);
  ++counters->requests;
  pthread_mutex_unlock(&counters->lock);
}

// One round trip to the server: counted while in flight, then, once a place is free where few are
// served at once, the set wait.
static void roundTrip(long* total, long* inFlight, long* peak) {
  struct Server* self = server();
  struct Counters* counters = &self->counters;
  unsigned places = self->settings.served;
  pthread_mutex_lock(&counters->lock);
  ++counters->requests;
  ++*total;
  if (++*inFlight > *peak) *peak = *inFlight;
  while (places > 0 && counters->serving >= places) {
    pthread_cond_wait(&counters->placeFreed, &counters->lock);
  }
  ++counters->serving;
  pthread_mutex_unlock(&counters->lock);
  struct timespec wait = {self->settings.delayMs / 1000, self->settings.delayMs % 1000 * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
  pthread_mutex_lock(&counters->lock);
  --counters->serving;
  --*inFlight;
  pthread_cond_signal(&counters->placeFreed);
  pthread_mutex_unlock(&counters->lock);
}

static void folderRoundTrip(void) {
  struct Counters* counters = &server()->counters;
  roundTrip(&counters->folderReads, &counters->folderReadsInFlight, &counters->peakFolderReads);
}

static void lookupRoundTrip(void) {
  struct Counters* counters = &server()->counters;
  roundTrip(&counters->lookups, &counters->lookupsInFlight, &counters->peakLookups);
}

static void* mirrorInit(struct fuse_conn_info* connection, struct fuse_config* config) {
  struct Server* self = server();
  // The mirror does not change while mounted, and every run mounts afresh.
  config->entry_timeout = config->attr_timeout = config->negative_timeout = 3600;
  config->use_ino = 1;
  // Attributes with every page of a listing, not only the first (the kernel's default). Lookups
  // in one folder are asked for in parallel, as a file server answers them, but Debian 12's
  // libfuse (3.14) does not pass that on, so there the kernel sends them one at a time.
  connection->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
  connection->want |= connection->capable & FUSE_CAP_PARALLEL_DIROPS;
  if (self->settings.noPlus) connection->want &= ~FUSE_CAP_READDIRPLUS;
  return self;
}

static int mirrorGetattr(const char* path, struct stat* status, struct fuse_file_info* file) {
  (void)file;
  lookupRoundTrip();
  return fstatat(server()->sourceFolder, relative(path), status, AT_SYMLINK_NOFOLLOW) ? -errno : 0;
}

static int mirrorOpendir(const char* path, struct fuse_file_info* file) {
  countRequest();
  int folder = openat(server()->sourceFolder, relative(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* stream = folder < 0 ? NULL : fdopendir(folder);
  if (!stream) {
    int error = errno;
    if (folder >= 0) close(folder);
    return -error;
  }
  file->fh = (uintptr_t)stream;
  return 0;
}

// The listing is one round trip, on its first read; the kernel's further reads of the same
// folder (it asks a page at a time) continue it from the position handed with each entry.
static int mirrorReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset,
                         struct fuse_file_info* file, enum fuse_readdir_flags flags) {
  (void)path;
  DIR* stream = (DIR*)(uintptr_t)file->fh;
  if (offset == 0) {
    folderRoundTrip();
    rewinddir(stream);
  } else {
    countRequest();
    seekdir(stream, offset);
  }
  int plus = (flags & FUSE_READDIR_PLUS) != 0;
  struct dirent* entry;
  while ((entry = readdir(stream)) != NULL) {
    struct stat status = {.st_ino = entry->d_ino, .st_mode = (mode_t)DTTOIF(entry->d_type)};
    int described =
        plus && fstatat(dirfd(stream), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0;
    if (fill(buffer, entry->d_name, &status, telldir(stream), described ? FUSE_FILL_DIR_PLUS : 0)) {
      break;
    }
  }
  return 0;
}

static int mirrorReleasedir(const char* path, struct fuse_file_info* file) {
  (void)path;
  countRequest();
  closedir((DIR*)(uintptr_t)file->fh);
  return 0;
}

static int mirrorReadlink(const char* path, char* target, size_t size) {
  countRequest();
  ssize_t length = readlinkat(server()->sourceFolder, relative(path), target, size - 1);
  if (length < 0) return -errno;
  target[length] = '\0';
  return 0;
}

static int mirrorOpen(const char* path, struct fuse_file_info* file) {
  countRequest();
  if ((file->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  int descriptor = openat(server()->sourceFolder, relative(path), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return -errno;
  file->fh = (uint64_t)descriptor;
  return 0;
}

static int mirrorRead(const char* path, char* data, size_t size, off_t offset,
                      struct fuse_file_info* file) {
  (void)path;
  countRequest();
  ssize_t count = pread((int)file->fh, data, size, offset);
  return count < 0 ? -errno : (int)count;
}

static int mirrorRelease(const char* path, struct fuse_file_info* file) {
  (void)path;
  countRequest();
  close((int)file->fh);
  return 0;
}

static int takeSource(void* data, const char* argument, int key, struct fuse_args* arguments) {
  (void)arguments;
  struct Settings* settings = data;
  if (key != FUSE_OPT_KEY_NONOPT || settings->source) return 1;
  settings->source = strdup(argument);
  return 0;
}

static int writeCounts(const struct Server* self) {
  FILE* out = fopen(self->settings.statsPath, "w");
  if (!out) return 1;
  const struct Counters* counters = &self->counters;
  fprintf(out,
          "requests %ld\nfolder_reads %ld\nlookups %ld\npeak_folder_reads %ld\npeak_lookups %ld\n",
          counters->requests, counters->folderReads, counters->lookups, counters->peakFolderReads,
          counters->peakLookups);
  return fclose(out) != 0;
}

int main(int argc, char** argv) {
  static const struct fuse_opt options[] = {
      {"delay=%u", offsetof(struct Settings, delayMs), 0},
      {"stats=%s", offsetof(struct Settings, statsPath), 0},
      {"noplus", offsetof(struct Settings, noPlus), 1},
      {"served=%u", offsetof(struct Settings, served), 0},
      FUSE_OPT_END,
  };
  static const struct fuse_operations operations = {
      .init = mirrorInit,
      .getattr = mirrorGetattr,
      .opendir = mirrorOpendir,
      .readdir = mirrorReaddir,
      .releasedir = mirrorReleasedir,
      .readlink = mirrorReadlink,
      .open = mirrorOpen,
      .read = mirrorRead,
      .release = mirrorRelease,
  };
  struct Server self = {
      .counters = {.lock = PTHREAD_MUTEX_INITIALIZER, .placeFreed = PTHREAD_COND_INITIALIZER}};
  struct fuse_args arguments = FUSE_ARGS_INIT(argc, argv);
  if (fuse_opt_parse(&arguments, &self.settings, options, takeSource) != 0) return 2;
  if (!self.settings.source) {
    fprintf(stderr, "usage: %s SOURCE MOUNTPOINT [-f] [-o delay=MS,stats=FILE,noplus,served=N]\n", argv[0]);
    return 2;
  }
  self.sourceFolder = open(self.settings.source, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (self.sourceFolder < 0) {
    perror(self.settings.source);
    return 1;
  }
  // Enough threads that the waits overlap instead of queueing (the library's default is 10),
  // kept alive between bursts; given first, so that options on the command line win.
  fuse_opt_insert_arg(&arguments, 1, "-oro,max_threads=1024,max_idle_threads=1024");
  int status = fuse_main(arguments.argc, arguments.argv, &operations, &self);
  if (self.settings.statsPath && writeCounts(&self) != 0) {
    perror(self.settings.statsPath);
    status = 1;
  }
  fuse_opt_free_args(&arguments);
  return status;
}
