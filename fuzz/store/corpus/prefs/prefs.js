// Mozilla User Preferences
user_pref("mail.server.server1.hostname", "pop.example.com");
user_pref("mail.server.server1.type", "pop3");
user_pref("mail.server.server1.userName", "alice");
user_pref("mail.server.server1.name", "Alice \"home\"");
user_pref("mail.server.server2.hostname", "pop.other.net");
user_pref("mail.server.server2.port", 995);
user_pref("mail.server.server2.type", "pop3");
user_pref("mail.server.server2.userName", "bob");
user_pref("mail.server.server3.type", "imap");
