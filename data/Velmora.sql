-- The settings database shipped with ORVAKELL (Velmora.db), as the build makes it.
-- The build runs this script only when the installation folder holds no Velmora.db yet, so an
-- operator's schedule is never overwritten. The tool itself never creates the file.
--
-- Text columns are VARCHAR(n): at most n characters, enforced by the data-access layer.
-- Date-time columns are DATETIME, stored as REAL days since 1899-12-30 00:00 (the fraction is
-- the time of day; a bare time is a value below 1). Yes/no values are the texts 'True'/'False'.

BEGIN TRANSACTION;

-- The weekly schedule: one row per database of the server. Opened through the index
-- "PrimaryKey", which gives the row order.
CREATE TABLE Database_List (
  Veri_Tabani_Adi      VARCHAR(255) NOT NULL,
  Son_Yedek_Tarih      DATETIME,
  Son_Yedek_Dosya_Adi  VARCHAR(255),
  Pazar                VARCHAR(5),
  P_Tesi               VARCHAR(5),
  Sali                 VARCHAR(5),
  Carsamba             VARCHAR(5),
  PErsembe             VARCHAR(5),
  Cuma                 VARCHAR(5),
  C_Tesi               VARCHAR(5),
  Pazar_T              DATETIME,
  P_Tesi_T             DATETIME,
  Sali_T               DATETIME,
  Carsamba_T           DATETIME,
  PErsembe_T           DATETIME,
  Cuma_T               DATETIME,
  C_Tesi_T             DATETIME,
  Pzr_CD               VARCHAR(5),
  Pts_CD               VARCHAR(5),
  Sl_CD                VARCHAR(5),
  C_CD                 VARCHAR(5),
  Prs_CD               VARCHAR(5),
  Cm_CD                VARCHAR(5),
  Cts_CD               VARCHAR(5),
  Pzr_Zip              VARCHAR(5),
  Pts_Zip              VARCHAR(5),
  Sl_Zip               VARCHAR(5),
  C_Zip                VARCHAR(5),
  Prs_Zip              VARCHAR(5),
  Cm_Zip               VARCHAR(5),
  Cts_Zip              VARCHAR(5),
  Test_Restore         VARCHAR(10) DEFAULT 'Never',  -- 'Always' (after every backup), 'Weekly', 'Never'
  Verified             VARCHAR(255),                 -- the last test restore's outcome, as the grid shows it
  Verified_Tarih       DATETIME                      -- and its time
);
CREATE UNIQUE INDEX PrimaryKey ON Database_List (Veri_Tabani_Adi);

-- Global settings: the tool works on the first row and creates it with its first edit.
CREATE TABLE System (
  Kimlik       INTEGER PRIMARY KEY AUTOINCREMENT,
  User_Name    VARCHAR(255),
  Passw        VARCHAR(255),
  Temp_Dizini  VARCHAR(255),
  Author       VARCHAR(5),
  Ziple        VARCHAR(5),
  CD_Yaz       VARCHAR(5),
  Keep         INTEGER DEFAULT 1  -- backup generations kept per database (<name>.Dat, <name>.1.Dat, ...)
);

-- Translations: key (message key or caption text), English text, text shown.
CREATE TABLE Language_Tbl (
  Degisken  VARCHAR(150) NOT NULL PRIMARY KEY,
  English   VARCHAR(255),
  Language  VARCHAR(255)
);

-- The 43 message strings.
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Suc_Conc_Str', 'The connection to the database server succeeded.', 'The connection to the database server succeeded.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Connect', 'Connect', 'Connect');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Err_Cont_Str', 'Could not connect to the database server. Check the account and the password.', 'Could not connect to the database server. Check the account and the password.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Err_Conc_Str', 'Connection Error', 'Connection Error');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('MSSQL_Exit_Str', 'Everyone connected to this database will be disconnected during the operation. Do you want to continue?', 'Everyone connected to this database will be disconnected during the operation. Do you want to continue?');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('MS_Not_Found', 'No database server is registered on this computer. ORVAKELL cannot start.', 'No database server is registered on this computer. ORVAKELL cannot start.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Drive_Str', 'Drive', 'Drive');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('CD_Error3_Str', 'There are no files to write to the disc.', 'There are no files to write to the disc.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('CD_Add_File_Str', 'Adding files to write', 'Adding files to write');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('CD_Start_Str', 'Writing started on ', 'Writing started on ');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('CD_Skip1_Str', 'File skipped, it cannot be opened: ', 'File skipped, it cannot be opened: ');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('CD_Skip2_Str', 'File skipped, its name is too long: ', 'File skipped, its name is too long: ');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('CD_Error1_Str', 'The disc could not be written.', 'The disc could not be written.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('CD_Error2_Str', 'There is no writable disc in the recorder.', 'There is no writable disc in the recorder.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('CD_Write1_Str', 'Writing ended with an error.', 'Writing ended with an error.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('CD_Write2_Str', 'Writing completed without errors.', 'Writing completed without errors.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Session_Str', 'There is no session on the disc to import.', 'There is no session on the disc to import.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Index_Rebuild_Str', 'The indexes have been rebuilt.', 'The indexes have been rebuilt.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Index_Rebuild_Bsk_Str', 'Repair Index', 'Repair Index');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Table_Rebuild_Str', 'The tables have been checked and repaired.', 'The tables have been checked and repaired.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Table_Rebuild_Bsk_Str', 'Repair Table', 'Repair Table');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Backup_Str', 'Do you want to back up the selected databases now?', 'Do you want to back up the selected databases now?');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Backup_Str_Bsk', 'Backup', 'Backup');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Restore_Str', 'Restoring replaces the database and all of its current data with the contents of the backup. Anyone connected to it is disconnected.', 'Restoring replaces the database and all of its current data with the contents of the backup. Anyone connected to it is disconnected.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Restore_Str_Bsk', 'Restore', 'Restore');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Opera_Error_Str', 'The operation could not be completed.', 'The operation could not be completed.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Opera_Error_Str_Bsk', 'Error', 'Error');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Last_Backup_Time', 'Last Backup Time', 'Last Backup Time');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Last_Backup_Path', 'Last Backup File', 'Last Backup File');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Directory_Create_Error_Str', 'The folder <Directory> could not be created.', 'The folder <Directory> could not be created.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Directory_Create_Error_Str_Bsk', 'Folder Error', 'Folder Error');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Backup_Comp_Str', 'The backup is complete.', 'The backup is complete.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Restore_Bsk_Str', 'Restore', 'Restore');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Backup1_Str', 'Backup', 'Backup');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Check_Bck_Str', 'Working on the backup file, please wait...', 'Working on the backup file, please wait...');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Check_Zip_Str', 'Zipping the backup file, please wait...', 'Zipping the backup file, please wait...');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Write_CD_Str', 'Writing to CD or DVD, please wait...', 'Writing to CD or DVD, please wait...');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Extract_Zip_Str', 'Extracting the archive, please wait...', 'Extracting the archive, please wait...');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Check_Direc_Str', 'Checking the folders of the database files...', 'Checking the folders of the database files...');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Restore_Dtb_Str', 'Restoring the database, please wait...', 'Restoring the database, please wait...');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Restore_Comp_Str', 'The restore is complete.', 'The restore is complete.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Backup_To_Str', 'Backing up <Database>...', 'Backing up <Database>...');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Backup_To_Direct_Str', 'Writing the backup to <Directory>', 'Writing the backup to <Directory>');

-- Captions of the windows, keyed by their design texts.
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('ORVAKELL', 'ORVAKELL', 'ORVAKELL');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Drive :', 'Drive :', 'Drive :');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Label', 'Label', 'Label');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Label8', 'Label8', 'Label8');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('0', '0', '0');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Label2', 'Label2', 'Label2');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Backup Path', 'Backup Path', 'Backup Path');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Speed', 'Speed', 'Speed');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Cache', 'Cache', 'Cache');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Memory : ', 'Memory : ', 'Memory : ');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Status : ', 'Status : ', 'Status : ');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('MB', 'MB', 'MB');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Scheduled backups run in the background service.', 'Scheduled backups run in the background service.', 'Scheduled backups run in the background service.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('CD YAZ', 'WRITE CD', 'WRITE CD');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Joliet File System', 'Joliet File System', 'Joliet File System');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Underrun Protection', 'Underrun Protection', 'Underrun Protection');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Yazma Testi Yap', 'Test Write', 'Test Write');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Import Session', 'Import Session', 'Import Session');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Perform OPC', 'Perform OPC', 'Perform OPC');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Quick Save .ISO', 'Quick Save .ISO', 'Quick Save .ISO');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Bootable', 'Bootable', 'Bootable');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Yazarken Dosyaları Göster', 'Show Files While Writing', 'Show Files While Writing');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Archive files only && Clear Archive Bit', 'Archive files only && Clear Archive Bit', 'Archive files only && Clear Archive Bit');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Explorer style Directory/File view', 'Explorer style Directory/File view', 'Explorer style Directory/File view');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Yazdıktan Sonra Diski Çıkart', 'Eject Disc After Writing', 'Eject Disc After Writing');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Diski Kapat (Yazma İşlemi Bitince)', 'Close Disc (When Writing Ends)', 'Close Disc (When Writing Ends)');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Verify after writing', 'Verify after writing', 'Verify after writing');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Database', 'Database', 'Database');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Last Backup DateTime', 'Last Backup Date and Time', 'Last Backup Date and Time');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Last Backup File', 'Last Backup File', 'Last Backup File');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Verified', 'Verified', 'Verified');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Test restore', 'Test restore', 'Test restore');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Verify by restoring', 'Verify by restoring', 'Verify by restoring');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Backup', 'Backup', 'Backup');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Time', 'Time', 'Time');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('CD-DVD', 'CD-DVD', 'CD-DVD');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Zip', 'Zip', 'Zip');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Monday', 'Monday', 'Monday');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Tuesday', 'Tuesday', 'Tuesday');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Wednesday', 'Wednesday', 'Wednesday');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Thursday', 'Thursday', 'Thursday');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Friday', 'Friday', 'Friday');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Saturday', 'Saturday', 'Saturday');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Sunday', 'Sunday', 'Sunday');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('CANCEL', 'CANCEL', 'CANCEL');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('BACKUP1', 'BACKUP', 'BACKUP');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('RESTORE', 'RESTORE', 'RESTORE');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('SETTING', 'SETTINGS', 'SETTINGS');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('CLOSE1', 'CLOSE', 'CLOSE');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('LANGUAGE', 'LANGUAGE', 'LANGUAGE');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('To zip', 'To zip', 'To zip');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Write to CD or DVD', 'Write to CD or DVD', 'Write to CD or DVD');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Show', 'Show', 'Show');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Hide', 'Hide', 'Hide');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('-', '-', '-');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Close', 'Close', 'Close');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('REPAIR INDEX', 'REPAIR INDEX', 'REPAIR INDEX');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('REPAIR TABLE', 'REPAIR TABLE', 'REPAIR TABLE');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Restore', 'Restore', 'Restore');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Backup Date time', 'Backup Date and Time', 'Backup Date and Time');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Restoring replaces the database and all of its current data with the contents of the backup. Anyone connected to it is disconnected.', 'Restoring replaces the database and all of its current data with the contents of the backup. Anyone connected to it is disconnected.', 'Restoring replaces the database and all of its current data with the contents of the backup. Anyone connected to it is disconnected.');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('OK', 'OK', 'OK');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Language', 'Language', 'Language');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Your Language', 'Your Language', 'Your Language');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('ENGLISH', 'ENGLISH', 'ENGLISH');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Connection Setting', 'Connection Settings', 'Connection Settings');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Account', 'Account', 'Account');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('Password', 'Password', 'Password');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('SQL Server and Windows', 'SQL Server and Windows', 'SQL Server and Windows');
INSERT INTO Language_Tbl (Degisken, English, Language) VALUES ('PATH', 'PATH', 'PATH');

COMMIT;
