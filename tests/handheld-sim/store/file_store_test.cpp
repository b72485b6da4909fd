#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "formats/text_encoding.h"
#include "handheld-sim/store/object_store.h"

namespace nuva::sim {
namespace {

using namespace store_error;

constexpr uint32_t kRW = kAccessRead | kAccessWrite;
constexpr uint32_t kShareAll = kShareRead | kShareWrite;

std::string Contents(const FileStore& files, std::u16string_view path) {
    std::vector<uint8_t> data;
    if (files.Get(path, &data) != kSuccess) {
        return "<missing>";
    }
    return std::string(data.begin(), data.end());
}

uint32_t WriteText(OpenFile& file, std::string_view text) {
    uint32_t done = 0;
    uint32_t error = file.Write(text.data(), static_cast<uint32_t>(text.size()), &done);
    return error == kSuccess && done != text.size() ? kDiskFull : error;
}

TEST(FileStore, CreationDispositionsFollowCreateFile) {
    FileStore files;
    ASSERT_EQ(files.CreateDirectory(u"\\TEMP"), kSuccess);

    // CREATE_NEW: a new file, then "exists".
    OpenResult r = files.Open(u"\\TEMP\\a", kRW, 0, Disposition::kCreateNew);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.error, kSuccess);
    EXPECT_EQ(WriteText(r.file, "hello"), kSuccess);
    r.file.Close();
    r = files.Open(u"\\TEMP\\a", kRW, 0, Disposition::kCreateNew);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.error, kFileExists);
    EXPECT_EQ(Contents(files, u"\\TEMP\\a"), "hello");

    // OPEN_ALWAYS on an existing file keeps it and says "already exists";
    // on a missing one creates it without that note.
    r = files.Open(u"\\TEMP\\a", kAccessRead, kShareRead, Disposition::kOpenAlways);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.error, kAlreadyExists);
    uint64_t size = 0;
    EXPECT_EQ(r.file.Size(&size), kSuccess);
    EXPECT_EQ(size, 5u);
    r.file.Close();
    r = files.Open(u"\\TEMP\\b", kAccessRead, kShareRead, 4u);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.error, kSuccess);
    r.file.Close();

    // CREATE_ALWAYS truncates an existing file (and still succeeds).
    r = files.Open(u"\\TEMP\\a", kAccessWrite, 0, Disposition::kCreateAlways);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.error, kAlreadyExists);
    r.file.Close();
    EXPECT_EQ(Contents(files, u"\\TEMP\\a"), "");
    r = files.Open(u"\\TEMP\\c", kAccessWrite, 0, Disposition::kCreateAlways);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.error, kSuccess);
    r.file.Close();

    // OPEN_EXISTING and TRUNCATE_EXISTING need the file; truncating needs
    // write access.
    EXPECT_EQ(files.Open(u"\\TEMP\\none", kAccessRead, 0, Disposition::kOpenExisting).error, kFileNotFound);
    EXPECT_EQ(files.Open(u"\\TEMP\\none", kAccessWrite, 0, Disposition::kTruncateExisting).error,
              kFileNotFound);
    ASSERT_EQ(files.Put(u"\\TEMP\\c", "data"), kSuccess);
    EXPECT_EQ(files.Open(u"\\TEMP\\c", kAccessRead, 0, Disposition::kTruncateExisting).error,
              kInvalidParameter);
    EXPECT_EQ(Contents(files, u"\\TEMP\\c"), "data");
    r = files.Open(u"\\TEMP\\c", kAccessWrite, 0, Disposition::kTruncateExisting);
    EXPECT_TRUE(r.ok());
    r.file.Close();
    EXPECT_EQ(Contents(files, u"\\TEMP\\c"), "");

    // Paths: a missing folder, a folder, the root, bad names and dispositions.
    EXPECT_EQ(files.Open(u"\\NoSuch\\a", kRW, 0, Disposition::kCreateAlways).error, kPathNotFound);
    EXPECT_EQ(files.Open(u"\\TEMP\\a\\b", kRW, 0, Disposition::kCreateAlways).error, kPathNotFound);
    EXPECT_EQ(files.Open(u"\\TEMP", kAccessRead, 0, Disposition::kOpenExisting).error, kAccessDenied);
    EXPECT_EQ(files.Open(u"\\", kAccessRead, 0, Disposition::kOpenExisting).error, kAccessDenied);
    EXPECT_EQ(files.Open(u"\\TEMP\\x?y", kRW, 0, Disposition::kCreateAlways).error, kInvalidName);
    EXPECT_EQ(files.Open(u"\\TEMP\\\\x", kRW, 0, Disposition::kCreateAlways).error, kInvalidName);
    EXPECT_EQ(files.Open(u"\\TEMP\\x\\", kRW, 0, Disposition::kCreateAlways).error, kInvalidName);
    EXPECT_EQ(files.Open(u"\\TEMP\\..", kRW, 0, Disposition::kCreateAlways).error, kInvalidName);
    EXPECT_EQ(files.Open(std::u16string(300, u'a'), kRW, 0, Disposition::kCreateAlways).error, kInvalidName);
    EXPECT_EQ(files.Open(u"\\TEMP\\a", kRW, 0, 0u).error, kInvalidParameter);
    EXPECT_EQ(files.Open(u"\\TEMP\\a", kRW, 0, 6u).error, kInvalidParameter);
    // Without a leading separator the path still starts at the root, and
    // "/" separates as "\" does.
    EXPECT_TRUE(files.Open(u"TEMP/b", kAccessRead, kShareRead, Disposition::kOpenExisting).ok());
    EXPECT_EQ(files.OpenFileCount(), 0u);
}

TEST(FileStore, ReadWriteSeekAndSetEndBehaveLikeWin32Files) {
    FileStore files;
    OpenResult r = files.Open(u"\\f", kRW, 0, Disposition::kCreateNew);
    ASSERT_TRUE(r.ok());
    OpenFile& f = r.file;
    EXPECT_EQ(WriteText(f, "abcdef"), kSuccess);
    EXPECT_EQ(f.Position(), 6u);

    uint64_t pos = 0;
    char buffer[16] = {};
    uint32_t done = 99;
    // At the end a read succeeds with nothing.
    EXPECT_EQ(f.Read(buffer, sizeof buffer, &done), kSuccess);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(f.Seek(-4, SeekFrom::kEnd, &pos), kSuccess);
    EXPECT_EQ(pos, 2u);
    EXPECT_EQ(f.Read(buffer, 3, &done), kSuccess);
    EXPECT_EQ(std::string(buffer, done), "cde");
    EXPECT_EQ(f.Seek(-1, SeekFrom::kCurrent, &pos), kSuccess);
    EXPECT_EQ(pos, 4u);
    // A negative result is refused and the position stays.
    EXPECT_EQ(f.Seek(-5, SeekFrom::kCurrent, &pos), kNegativeSeek);
    EXPECT_EQ(f.Position(), 4u);
    EXPECT_EQ(f.Seek(0, 3u, &pos), kInvalidParameter);
    EXPECT_EQ(f.Position(), 4u);

    // Past the end: allowed; a write there fills the gap with zeros.
    EXPECT_EQ(f.Seek(10, SeekFrom::kBegin, &pos), kSuccess);
    uint64_t size = 0;
    ASSERT_EQ(f.Size(&size), kSuccess);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(WriteText(f, "Z"), kSuccess);
    EXPECT_EQ(Contents(files, u"\\f"), std::string("abcdef\0\0\0\0Z", 11));
    // A write that starts inside the file and runs past its end overwrites
    // the one part and appends the other, counted once.
    EXPECT_EQ(f.Seek(9, SeekFrom::kBegin, &pos), kSuccess);
    EXPECT_EQ(WriteText(f, "xyz"), kSuccess);
    EXPECT_EQ(Contents(files, u"\\f"), std::string("abcdef\0\0\0xyz", 12));
    EXPECT_EQ(files.UsedBytes(), 12u);

    // SetEnd cuts or grows the file at the position.
    EXPECT_EQ(f.Seek(3, 0u, &pos), kSuccess);
    EXPECT_EQ(f.SetEnd(), kSuccess);
    EXPECT_EQ(Contents(files, u"\\f"), "abc");
    EXPECT_EQ(f.Seek(5, SeekFrom::kBegin, &pos), kSuccess);
    EXPECT_EQ(f.SetEnd(), kSuccess);
    EXPECT_EQ(Contents(files, u"\\f"), std::string("abc\0\0", 5));
    EXPECT_EQ(files.UsedBytes(), 5u);
    f.Close();
    EXPECT_EQ(f.Read(buffer, 1, &done), kInvalidHandle);
    EXPECT_EQ(f.Seek(0, SeekFrom::kBegin, &pos), kInvalidHandle);

    // The access asked for is the access granted.
    r = files.Open(u"\\f", kAccessRead, kShareAll, Disposition::kOpenExisting);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(WriteText(r.file, "x"), kAccessDenied);
    EXPECT_EQ(r.file.SetEnd(), kAccessDenied);
    OpenResult w = files.Open(u"\\f", kAccessWrite, kShareAll, Disposition::kOpenExisting);
    ASSERT_TRUE(w.ok());
    EXPECT_EQ(w.file.Read(buffer, 1, &done), kAccessDenied);
    EXPECT_EQ(Contents(files, u"\\f"), std::string("abc\0\0", 5));
}

TEST(FileStore, SharingIsEnforcedBetweenOpenFiles) {
    FileStore files;
    ASSERT_EQ(files.Put(u"\\s", "keep"), kSuccess);

    OpenResult reader = files.Open(u"\\s", kAccessRead, kShareRead, Disposition::kOpenExisting);
    ASSERT_TRUE(reader.ok());
    // Another reader that shares reading: fine.
    OpenResult reader2 = files.Open(u"\\s", kAccessRead, kShareRead, Disposition::kOpenExisting);
    EXPECT_TRUE(reader2.ok());
    // A writer: the readers did not share writing.
    EXPECT_EQ(files.Open(u"\\s", kAccessWrite, kShareAll, Disposition::kOpenExisting).error,
              kSharingViolation);
    // A reader that refuses to share reading with the open readers.
    EXPECT_EQ(files.Open(u"\\s", kAccessRead, 0, Disposition::kOpenExisting).error, kSharingViolation);
    // Truncating a shared-read file is a write: refused, contents kept.
    EXPECT_EQ(files.Open(u"\\s", kAccessWrite, kShareRead, Disposition::kCreateAlways).error,
              kSharingViolation);
    EXPECT_EQ(files.Put(u"\\s", "lost"), kSharingViolation);
    EXPECT_EQ(Contents(files, u"\\s"), "keep");
    // An open without read or write access takes no part in sharing.
    OpenResult query = files.Open(u"\\s", 0, 0, Disposition::kOpenExisting);
    EXPECT_TRUE(query.ok());
    EXPECT_EQ(files.OpenFileCount(), 3u);

    reader.file.Close();
    reader2.file.Close();
    OpenResult writer = files.Open(u"\\s", kAccessWrite, kShareRead, Disposition::kOpenExisting);
    ASSERT_TRUE(writer.ok());
    // Now a reader must share writing, and another writer is refused.
    EXPECT_EQ(files.Open(u"\\s", kAccessRead, kShareRead, Disposition::kOpenExisting).error,
              kSharingViolation);
    EXPECT_TRUE(files.Open(u"\\s", kAccessRead, kShareAll, Disposition::kOpenExisting).ok());
    EXPECT_EQ(files.Open(u"\\s", kAccessWrite, kShareAll, Disposition::kOpenExisting).error,
              kSharingViolation);

    // Moving a handle keeps one open file; destroying it closes it.
    {
        OpenFile moved = std::move(writer.file);
        EXPECT_FALSE(writer.file.IsOpen());
        EXPECT_TRUE(moved.IsOpen());
        EXPECT_EQ(files.OpenFileCount(), 2u);
    }
    EXPECT_EQ(files.OpenFileCount(), 1u);
    EXPECT_TRUE(files.Open(u"\\s", kAccessWrite, 0, Disposition::kOpenExisting).ok());
}

TEST(FileStore, NamesMatchWithoutCaseAndKeepTheirCase) {
    FileStore files;
    ASSERT_EQ(files.CreateDirectory(u"\\My Documents"), kSuccess);
    ASSERT_EQ(files.Put(u"\\My Documents\\Notes.TXT", "n"), kSuccess);
    ASSERT_EQ(files.Put(u"\\My Documents\\Caf\u00e9", "c"), kSuccess);

    EXPECT_EQ(Contents(files, u"\\MY DOCUMENTS\\notes.txt"), "n");
    EXPECT_EQ(Contents(files, u"\\my documents\\CAF\u00c9"), "c");
    EXPECT_EQ(files.Open(u"\\my documents\\NOTES.txt", kRW, 0, Disposition::kCreateNew).error, kFileExists);
    EXPECT_EQ(files.CreateDirectory(u"\\MY DOCUMENTS\\"), kAlreadyExists);
    // Different letters stay different names.
    EXPECT_EQ(Contents(files, u"\\My Documents\\Cafe"), "<missing>");

    std::vector<EntryInfo> entries;
    ASSERT_EQ(files.List(u"\\my documents\\", &entries), kSuccess);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, u"Notes.TXT");
    EXPECT_EQ(entries[0].size, 1u);
    EXPECT_EQ(entries[1].name, u"Caf\u00e9");
    ASSERT_EQ(files.List(u"\\", &entries), kSuccess);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, u"My Documents");
    EXPECT_TRUE(entries[0].folder);

    // Replacing through another spelling keeps the first spelling.
    ASSERT_EQ(files.Put(u"\\my documents\\NOTES.TXT", "m"), kSuccess);
    EntryInfo info;
    ASSERT_EQ(files.Stat(u"\\MY DOCUMENTS\\notes.txt", &info), kSuccess);
    EXPECT_EQ(info.name, u"Notes.TXT");
    EXPECT_EQ(files.List(u"\\My Documents\\Notes.TXT", &entries), kDirectory);
    EXPECT_EQ(files.List(u"\\Nothing", &entries), kPathNotFound);
}

TEST(FileStore, DeleteAndRemoveDirectory) {
    FileStore files;
    ASSERT_EQ(files.CreateDirectory(u"\\Windows"), kSuccess);
    ASSERT_EQ(files.Put(u"\\Windows\\NUVA7INVOKE.DLL", "dll"), kSuccess);

    {
        OpenResult r =
            files.Open(u"\\windows\\nuva7invoke.dll", kAccessRead, kShareAll, Disposition::kOpenExisting);
        ASSERT_TRUE(r.ok());
        // Open, even sharing everything: it cannot be deleted.
        EXPECT_EQ(files.Delete(u"\\Windows\\NUVA7INVOKE.DLL"), kSharingViolation);
        EXPECT_EQ(Contents(files, u"\\Windows\\NUVA7INVOKE.DLL"), "dll");
    }
    EXPECT_EQ(files.Delete(u"\\WINDOWS\\nuva7invoke.dll"), kSuccess);
    EXPECT_EQ(files.Delete(u"\\Windows\\NUVA7INVOKE.DLL"), kFileNotFound);
    EXPECT_EQ(files.Delete(u"\\Nowhere\\x"), kPathNotFound);
    EXPECT_EQ(files.Delete(u"\\Windows"), kAccessDenied);
    EXPECT_EQ(files.UsedBytes(), 0u);

    ASSERT_EQ(files.Put(u"\\Windows\\keep", "k"), kSuccess);
    EXPECT_EQ(files.RemoveDirectory(u"\\Windows"), kDirNotEmpty);
    EXPECT_EQ(files.RemoveDirectory(u"\\Windows\\keep"), kDirectory);
    EXPECT_EQ(files.RemoveDirectory(u"\\"), kAccessDenied);
    ASSERT_EQ(files.Delete(u"\\Windows\\keep"), kSuccess);
    EXPECT_EQ(files.RemoveDirectory(u"\\windows\\"), kSuccess);
    EXPECT_EQ(files.Stat(u"\\Windows", nullptr), kFileNotFound);
}

TEST(FileStore, HoldsComparesTheWholeFileInPlace) {
    FileStore files;
    ASSERT_EQ(files.CreateDirectory(u"\\Windows"), kSuccess);
    ASSERT_EQ(files.Put(u"\\Windows\\lib.dll", "abcd"), kSuccess);
    auto holds = [&](std::u16string_view path, std::string_view text, bool& same) {
        same = !same;  // every answer must be set
        return files.Holds(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                           &same);
    };
    bool same = false;
    EXPECT_EQ(holds(u"\\windows\\LIB.DLL", "abcd", same), kSuccess);
    EXPECT_TRUE(same);
    for (std::string_view other : {"abce", "abc", "abcde", ""}) {
        EXPECT_EQ(holds(u"\\Windows\\lib.dll", other, same), kSuccess);
        EXPECT_FALSE(same) << other;
    }
    // A byte changed through a handle is seen.
    {
        OpenResult r = files.Open(u"\\Windows\\lib.dll", kRW, 0, Disposition::kOpenExisting);
        ASSERT_TRUE(r.ok());
        uint64_t position = 0;
        ASSERT_EQ(r.file.Seek(2, SeekFrom::kBegin, &position), kSuccess);
        ASSERT_EQ(WriteText(r.file, "X"), kSuccess);
    }
    EXPECT_EQ(holds(u"\\Windows\\lib.dll", "abXd", same), kSuccess);
    EXPECT_TRUE(same);
    // Get's errors.
    EXPECT_EQ(holds(u"\\Windows\\none.dll", "", same), kFileNotFound);
    EXPECT_EQ(holds(u"\\Windows", "", same), kAccessDenied);
    EXPECT_EQ(holds(u"\\Windows\\lib.dll\\", "abXd", same), kInvalidName);
}

TEST(FileStore, WritesBeyondTheCapacityFailWithDiskFullAndChangeNothing) {
    FileStore files(1000);
    OpenResult a = files.Open(u"\\a", kRW, 0, Disposition::kCreateNew);
    ASSERT_TRUE(a.ok());
    EXPECT_EQ(WriteText(a.file, std::string(600, 'a')), kSuccess);

    OpenResult b = files.Open(u"\\b", kRW, 0, Disposition::kCreateNew);
    ASSERT_TRUE(b.ok());
    uint32_t done = 77;
    std::string big(500, 'b');
    EXPECT_EQ(b.file.Write(big.data(), 500, &done), kDiskFull);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(b.file.Position(), 0u);
    uint64_t size = 1;
    ASSERT_EQ(b.file.Size(&size), kSuccess);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(files.UsedBytes(), 600u);
    // Exactly what is left fits.
    EXPECT_EQ(WriteText(b.file, std::string(400, 'b')), kSuccess);
    EXPECT_EQ(files.UsedBytes(), 1000u);
    // Overwriting inside a file needs no room; growing it does.
    uint64_t pos = 0;
    ASSERT_EQ(a.file.Seek(0, SeekFrom::kBegin, &pos), kSuccess);
    EXPECT_EQ(WriteText(a.file, "xyz"), kSuccess);
    EXPECT_EQ(a.file.Seek(601, SeekFrom::kBegin, &pos), kSuccess);
    EXPECT_EQ(a.file.SetEnd(), kDiskFull);
    EXPECT_EQ(files.Put(u"\\c", "c"), kDiskFull);
    EXPECT_EQ(files.Stat(u"\\c", nullptr), kFileNotFound);

    // Deleting gives the room back.
    b.file.Close();
    ASSERT_EQ(files.Delete(u"\\b"), kSuccess);
    EXPECT_EQ(files.UsedBytes(), 600u);
    EXPECT_EQ(files.Put(u"\\c", std::string(400, 'c')), kSuccess);
    // A capacity lowered below the use refuses growth only.
    files.SetCapacity(100);
    EXPECT_EQ(files.Put(u"\\c", std::string(10, 'c')), kSuccess);
    EXPECT_EQ(files.Put(u"\\d", "d"), kDiskFull);
}

TEST(FileStore, ReplacedContentsInvalidateEveryOldHandle) {
    FileStore files;
    ASSERT_EQ(files.Put(u"\\old", "old"), kSuccess);
    OpenResult r = files.Open(u"\\old", kRW, 0, Disposition::kOpenExisting);
    ASSERT_TRUE(r.ok());

    FileStore other(500);
    ASSERT_EQ(other.Put(u"\\new", "new"), kSuccess);
    OpenResult o = other.Open(u"\\new", kRW, 0, Disposition::kOpenExisting);
    ASSERT_TRUE(o.ok());
    files.ReplaceContents(other);

    EXPECT_EQ(WriteText(r.file, "x"), kInvalidHandle);
    EXPECT_EQ(WriteText(o.file, "x"), kInvalidHandle);
    EXPECT_FALSE(r.file.IsOpen());
    EXPECT_EQ(files.OpenFileCount(), 0u);
    EXPECT_EQ(files.Capacity(), 500u);
    EXPECT_EQ(Contents(files, u"\\old"), "<missing>");
    EXPECT_EQ(Contents(files, u"\\new"), "new");
    EXPECT_EQ(Contents(other, u"\\new"), "<missing>");
    // The moved file was open in the other store; here it is free.
    EXPECT_EQ(files.Delete(u"\\new"), kSuccess);
    // Closing dead handles disturbs nothing.
    r.file.Close();
    o.file.Close();
    EXPECT_EQ(files.OpenFileCount(), 0u);
}

TEST(FileStore, ConcurrentUsersKeepTheCountsRight) {
    FileStore files;
    ASSERT_EQ(files.CreateDirectory(u"\\TEMP"), kSuccess);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&files, t] {
            for (int i = 0; i < 200; ++i) {
                std::u16string path =
                    u"\\TEMP\\" + Utf16FromUtf8(std::to_string(t) + "-" + std::to_string(i));
                OpenResult r = files.Open(path, kRW, 0, Disposition::kCreateNew);
                if (!r.ok()) {
                    ADD_FAILURE() << "open failed " << r.error;
                    return;
                }
                EXPECT_EQ(WriteText(r.file, "0123456789"), kSuccess);
                r.file.Close();
                EXPECT_EQ(files.Delete(path), kSuccess);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(files.OpenFileCount(), 0u);
    EXPECT_EQ(files.UsedBytes(), 0u);
    std::vector<EntryInfo> entries;
    ASSERT_EQ(files.List(u"\\TEMP", &entries), kSuccess);
    EXPECT_TRUE(entries.empty());
}

TEST(StoreText, Folding) {
    EXPECT_EQ(FoldCase(u"welcome.lnk \u00e9\u00f7\u00ff"), u"WELCOME.LNK \u00c9\u00f7\u0178");
    EXPECT_TRUE(SameName(u"Poutlook.LNK", u"poutlook.lnk"));
    EXPECT_FALSE(SameName(u"poutlook.lnk", u"poutlook.lnkx"));
}

}  // namespace
}  // namespace nuva::sim
