#!/usr/bin/perl
# Compares the keys and values of two hive files: OURS (a .reg file imported
# by reg-export --import) and THEIRS (the same version-4 file merged by
# hivexregedit --merge, with the "//" comment lines taken out, which it does
# not read). hivexregedit stores the hex(2) and hex(7) lists of a version-4
# file as they stand (8-bit text), while our import stores UTF-16LE, so for
# those two types the 8-bit bytes are decoded as Western (cp1252, the code
# page of a version-4 file) before comparing. Its
# strings ("...") it widens byte by byte, so a non-ASCII string arrives as its
# Western bytes widened; such a string is narrowed and decoded before comparing.
#
#   perl reg-compare-hivex.pl OURS THEIRS
use strict;
use warnings;
use Win::Hivex;
use Encode qw(decode encode);

my ($oursFile, $theirsFile) = @ARGV;
die "usage: $0 OURS THEIRS\n" unless defined $theirsFile;
my $ours = Win::Hivex->open($oursFile);
my $theirs = Win::Hivex->open($theirsFile);

my ($keys, $values, $differ) = (0, 0, 0);

sub valuesOf {
  my ($h, $node) = @_;
  my %out;
  for my $v ($h->node_values($node)) {
    my ($type, $data) = $h->value_value($v);
    $out{lc $h->value_key($v)} = [$type, $data, $h->value_key($v)];
  }
  return \%out;
}

sub walk {
  my ($a, $b, $path) = @_;
  $keys++;
  my $va = valuesOf($ours, $a);
  my $vb = valuesOf($theirs, $b);
  for my $name (sort keys %$va) {
    $values++;
    my ($ta, $da, $shown) = @{$va->{$name}};
    unless (exists $vb->{$name}) { print "missing in theirs: $path : $shown\n"; $differ++; next; }
    my ($tb, $db) = @{$vb->{$name}};
    if (($tb == 2 || $tb == 7) && $ta == $tb) {
      $db = encode('UTF-16LE', decode('cp1252', $db));
    } elsif ($tb == 1 && $ta == 1 && $da ne $db) {
      my $wide = decode('UTF-16LE', $db);
      if ($wide !~ /[^\x00-\xff]/) {
        $db = encode('UTF-16LE', decode('cp1252', encode('latin1', $wide)));
      }
    }
    if ($ta != $tb || $da ne $db) { print "differs: $path : $shown (type $ta vs $tb)\n"; $differ++; }
  }
  for my $name (sort keys %$vb) {
    next if exists $va->{$name};
    print "missing in ours: $path : $vb->{$name}[2]\n";
    $differ++;
  }
  my %kb = map { lc($theirs->node_name($_)) => $_ } $theirs->node_children($b);
  my %seen;
  for my $child ($ours->node_children($a)) {
    my $name = $ours->node_name($child);
    $seen{lc $name} = 1;
    if (!exists $kb{lc $name}) { print "key missing in theirs: $path\\$name\n"; $differ++; next; }
    walk($child, $kb{lc $name}, "$path\\$name");
  }
  for my $name (keys %kb) {
    next if $seen{$name};
    print "key missing in ours: $path\\$name\n";
    $differ++;
  }
}

walk($ours->root(), $theirs->root(), "");
print "$keys keys, $values values compared, $differ differences\n";
exit($differ ? 1 : 0);
