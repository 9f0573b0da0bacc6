// Replies as the FTP extensions write them, and the commands clients use to
// fetch many files and keep their times: checked with ftplib and lftp.
#include <sys/stat.h>

#include <filesystem>

#include "ftpd_fixture.h"

namespace fs = std::filesystem;

// Feature lines and the MLST fact line start with exactly one blank and no
// reply code; the first and last lines carry the code.
TEST_F(FtpdTest, MultiLineRepliesKeepTheirInnerLinesBare) {
  WriteFile(share_ + "/a.txt", "abc");
  RunResult r = Python(R"(
f = login()
feat = f.sendcmd('FEAT').split('\n')
assert feat[0] == '211-Features:' and feat[-1] == '211 End', feat
for line in feat[1:-1]:
    assert line.startswith(' ') and not line.startswith('  '), feat
assert ' MFMT' in feat and ' MLSD' in feat, feat
mlst = f.sendcmd('MLST /DISK_E/a.txt').split('\n')
assert len(mlst) == 3 and mlst[0].startswith('250-') and mlst[2] == '250 End', mlst
assert mlst[1].startswith(' type=file;size=3;') and mlst[1].endswith(' /DISK_E/a.txt'), mlst
stat = f.sendcmd('STAT').split('\n')
assert stat[0].startswith('211-') and stat[-1].startswith('211 ') and stat[1].startswith(' Connected'), stat
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

// mget sends NLST with the pattern; LIST takes it too. A name that holds a
// wildcard character itself is still listed as that name.
TEST_F(FtpdTest, ListingsWithAPatternListTheMatches) {
  for (const char* name : {"a.jpg", "b.jpg", "c.png", ".hidden.jpg", "star*.jpg"}) WriteFile(share_ + "/" + name, "x");
  fs::create_directories(share_ + "/sub");
  WriteFile(share_ + "/sub/x.txt", "x");
  WriteFile(share_ + "/sub/y.bin", "x");
  RunResult r = Python(R"(
f = login()
f.cwd('/DISK_E')
assert sorted(f.nlst('*.jpg')) == ['a.jpg', 'b.jpg', 'star*.jpg'], f.nlst('*.jpg')
assert f.nlst('sub/*.txt') == ['sub/x.txt'], f.nlst('sub/*.txt')
assert f.nlst('/DISK_E/?.png') == ['/DISK_E/c.png'], f.nlst('/DISK_E/?.png')
assert f.nlst('star*.jpg') == ['star*.jpg']
assert f.nlst('*.none') == []
lines = []
f.retrlines('LIST *.jpg', lines.append)
assert len(lines) == 3 and all(l.startswith('-rw') for l in lines), lines
refused(f.nlst, 'nofolder/*.jpg')
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  RunResult m = Lftp("cd /DISK_E; lcd " + xdg_->root() + "; mget *.jpg");
  ASSERT_EQ(m.exit_code, 0) << m.output;
  EXPECT_TRUE(fs::exists(xdg_->root() + "/a.jpg") && fs::exists(xdg_->root() + "/b.jpg"));
  EXPECT_FALSE(fs::exists(xdg_->root() + "/c.png"));
}

// Upload times survive: MFMT, both SITE UTIME forms, and lftp's mirror.
TEST_F(FtpdTest, ModificationTimesCanBeSet) {
  WriteFile(share_ + "/m.txt", "m");
  WriteFile(share_ + "/s2.txt", "s");
  WriteFile(share_ + "/s 5.txt", "s");
  RunResult r = Python(R"(
import calendar
f = login()
assert f.sendcmd('MFMT 20200102030405 /DISK_E/m.txt') == '213 Modify=20200102030405; /DISK_E/m.txt'
assert os.stat(SHARE + '/m.txt').st_mtime == calendar.timegm((2020, 1, 2, 3, 4, 5))
assert f.sendcmd('MDTM /DISK_E/m.txt') == '213 20200102030405'
assert f.sendcmd('SITE UTIME 20190203040506 /DISK_E/s2.txt').startswith('200')
assert os.stat(SHARE + '/s2.txt').st_mtime == calendar.timegm((2019, 2, 3, 4, 5, 6))
assert f.sendcmd('SITE UTIME /DISK_E/s 5.txt 20180101000000 20180304050607 20180101000000 UTC').startswith('200')
assert os.stat(SHARE + '/s 5.txt').st_mtime == calendar.timegm((2018, 3, 4, 5, 6, 7))
refused(f.sendcmd, 'MFMT 2020 /DISK_E/m.txt', code='501')
refused(f.sendcmd, 'MFMT 20201302030405 /DISK_E/m.txt', code='501')
refused(f.sendcmd, 'MFMT 20200102030405 /DISK_E/none.txt', code='550')
refused(f.sendcmd, 'MFMT 20200102030405 /DISK_E', code='550')  # the share itself stays put
refused(f.sendcmd, 'SITE CHMOD 777 /DISK_E/m.txt', code='500')
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;

  std::string local = xdg_->root() + "/mirror";
  fs::create_directories(local);
  WriteFile(local + "/old.txt", "old");
  RunShell("touch -d '2017-05-06 07:08:09 UTC' " + local + "/old.txt");
  RunResult m = Lftp("mirror -R " + local + " /DISK_E/mirror");
  ASSERT_EQ(m.exit_code, 0) << m.output;
  struct stat st {};
  ASSERT_EQ(::stat((share_ + "/mirror/old.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1494054489);
}

// STAT of a folder answers on the control connection however big the
// folder: it used to end the session once the answer passed 1 MiB.
TEST_F(FtpdTest, StatOfALargeFolderStreamsItsAnswer) {
  fs::create_directories(share_ + "/many");
  RunResult r = Python(R"(
long = 'x' * 240
for i in range(4500):
    os.close(os.open('%s/many/%s%05d' % (SHARE, long, i), os.O_CREAT | os.O_WRONLY))
f = login()
lines = f.sendcmd('STAT /DISK_E/many').split('\n')
assert lines[0] == '213-Status follows:' and lines[-1] == '213 End of status', (lines[0], lines[-1])
body = lines[1:-1]
assert len(body) == 4500, len(body)
assert sum(len(l) for l in body) > (1 << 20)
assert all(l.startswith(' -rw') for l in body)
assert f.sendcmd('NOOP').startswith('200')
lines = []
f.retrlines('LIST /DISK_E/many', lines.append)
assert len(lines) == 4500
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}
