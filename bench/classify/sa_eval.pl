#!/usr/bin/perl
# SpamAssassin (local rules + Bayes) on one fold, in one process:
#   sa_eval.pl STATE_DIR TRAIN_LIST TEST_LIST
# TRAIN_LIST lines are "spam PATH" or "ham PATH"; prints "PATH SCORE" for
# every message of TEST_LIST.
use strict;
use warnings;
use Mail::SpamAssassin;

my ($dir, $train, $test) = @ARGV;
die "usage: sa_eval.pl STATE_DIR TRAIN_LIST TEST_LIST\n" unless defined $test;
mkdir $dir;
my $sa = Mail::SpamAssassin->new({
  local_tests_only => 1,
  dont_copy_prefs => 1,
  userstate_dir => $dir,
  userprefs_filename => "$dir/user_prefs",
  post_config_text => "use_bayes 1\nbayes_auto_learn 0\nbayes_path $dir/bayes\n"
                    . "use_auto_whitelist 0\nuse_txrep 0\nskip_rbl_checks 1\n",
});
$sa->init(1);

sub slurp { my ($p) = @_; open(my $f, '<:raw', $p) or die "$p: $!"; local $/; my $t = <$f>; close $f; $t }

$sa->init_learner({});
open(my $tl, '<', $train) or die "$train: $!";
while (my $line = <$tl>) {
  chomp $line;
  my ($cls, $path) = split / /, $line, 2;
  my $mail = $sa->parse(slurp($path));
  my $status = $sa->learn($mail, undef, $cls eq 'spam' ? 1 : 0, 0);
  $status->finish;
  $mail->finish;
}
close $tl;
$sa->rebuild_learner_caches();
$sa->finish_learner();

open(my $ts, '<', $test) or die "$test: $!";
while (my $path = <$ts>) {
  chomp $path;
  my $mail = $sa->parse(slurp($path));
  my $status = $sa->check($mail);
  printf "%s %.3f\n", $path, $status->get_score();
  $status->finish;
  $mail->finish;
}
close $ts;
