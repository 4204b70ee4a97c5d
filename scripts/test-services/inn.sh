#!/usr/bin/env bash
# A private INN 2 news server on loopback for the NNTP tests and benchmarks.
#
#   bash scripts/test-services/inn.sh start WORKDIR   configure, start, fill with test articles
#   bash scripts/test-services/inn.sh stop  WORKDIR   stop it (the files stay under WORKDIR/inn)
#
# Everything of the instance (inn.conf and the other configuration files, active file, history,
# overview, spool, logs, run files) lives under WORKDIR/inn; it listens on a free loopback port
# (never 119) and runs as the news user. The machine-wide INN instance and its files are never
# touched. "start" prints NAME=value lines for the tests' environment:
#   VORLIX_INN_HOST, VORLIX_INN_PORT          where the server listens
#   VORLIX_INN_USER, VORLIX_INN_PASS          the login for the protected group
#   VORLIX_INN_GROUP                          a small group of realistic articles (threads, quoted
#                                             names, dot lines, UTF-8, an old article, a long line)
#   VORLIX_INN_GROUP_COUNT                    how many articles VORLIX_INN_GROUP holds
#   VORLIX_INN_BIG_GROUP, VORLIX_INN_BIG_COUNT a group of 10 000+ articles for the benchmark
#   VORLIX_INN_EMPTY_GROUP                    a group without articles
#   VORLIX_INN_POST_GROUP                     a group the tests post to
#   VORLIX_INN_AUTH_GROUP, VORLIX_INN_AUTH_COUNT a group readable only after AUTHINFO USER/PASS
#   VORLIX_INN_CA                             the certificate authority (PEM) that signed the
#                                             server's certificate: the reader port offers STARTTLS
#                                             with a certificate for 127.0.0.1 made at start-up
# Running "start" again while the server runs prints the same lines and changes nothing.
set -eu

cmd=${1:-}
work=${2:-}
if [ -z "$cmd" ] || [ -z "$work" ]; then
    echo "usage: $0 start|stop WORKDIR" >&2
    exit 2
fi

root=$(cd "$(dirname "$0")/../.." && pwd)
base="$work/inn"
pathbin=/usr/lib/news/bin

log() { echo "inn.sh: $*" >&2; }

# The instance's folder is reached through WORKDIR; when the news user cannot enter WORKDIR
# (a private temporary folder) the instance lives in a folder of its own that WORKDIR/inn links to.
instance_dir() {
    if [ -L "$base" ]; then readlink "$base"; else echo "$base"; fi
}

server_pid() {
    local dir pid
    dir=$(instance_dir)
    [ -f "$dir/run/innd.pid" ] || return 1
    pid=$(cat "$dir/run/innd.pid" 2>/dev/null) || return 1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 1
    echo "$pid"
}

stop_server() {
    local dir pid i
    [ -e "$base" ] || return 0
    dir=$(instance_dir)
    pid=$(server_pid) || return 0
    INNCONF="$dir/etc/inn.conf" runuser -u news -- "$pathbin/ctlinnd" -s -t 10 shutdown "tests done" \
        >/dev/null 2>&1 || kill "$pid" 2>/dev/null || true
    for i in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -9 "$pid" 2>/dev/null || true
    fi
    # Reader processes (nnrpd) end with their clients' connections.
    rm -f "$dir/run/innd.pid"
}

if [ "$cmd" = stop ]; then
    stop_server
    # An instance kept outside WORKDIR (see instance_dir) would outlive WORKDIR's removal.
    if [ -L "$base" ]; then
        target=$(readlink "$base")
        case "$target" in /tmp/vorlix-inn-*) rm -rf "$target";; esac
        rm -f "$base"
    fi
    exit 0
fi
if [ "$cmd" != start ]; then
    echo "usage: $0 start|stop WORKDIR" >&2
    exit 2
fi

if [ "$(id -u)" != 0 ]; then
    log "must run as root (innd runs as the news user through runuser)"
    exit 1
fi
if [ ! -x "$pathbin/innd" ]; then
    log "innd is missing; installing the test packages"
    bash "$root/scripts/install-deps.sh" test >&2
fi
if [ ! -x "$pathbin/innd" ]; then
    log "innd is still missing after installing inn2"
    exit 1
fi
# The package's own instance must not hold port 119 for the tests: leave it stopped.

mkdir -p "$work"

if [ -e "$base" ] && [ -f "$(instance_dir)/env" ] && server_pid >/dev/null; then
    cat "$(instance_dir)/env"
    exit 0
fi
# A stale instance (stopped, or half made by an interrupted start) is rebuilt from scratch.
if [ -e "$base" ]; then
    stop_server
    dir=$(instance_dir)
    if [ -L "$base" ]; then rm -f "$base"; fi
    rm -rf "$dir"
fi

chmod o+x "$work" 2>/dev/null || true
if runuser -u news -- test -x "$work" 2>/dev/null && runuser -u news -- test -x "$(dirname "$work")"; then
    dir="$base"
    mkdir -p "$dir"
else
    dir=$(mktemp -d /tmp/vorlix-inn-XXXXXX)
    ln -s "$dir" "$base"
fi
chmod 755 "$dir"

# A free loopback port: not 119, not in use.
pick_port() {
    local p used
    used=$(ss -ltnH 2>/dev/null | awk '{print $4}' | sed 's/.*://' | sort -u)
    for _ in $(seq 1 200); do
        p=$((20000 + RANDOM % 40000))
        if ! grep -qx "$p" <<< "$used"; then
            echo "$p"
            return 0
        fi
    done
    return 1
}

user=vorlix
pass="Speak-$(od -An -N4 -tx4 /dev/urandom | tr -d ' ')"
group_small=vorlix.test.talk
group_big=vorlix.test.big
group_empty=vorlix.test.empty
group_post=vorlix.test.post
group_auth=vorlix.auth.private
big_count=10200

mkdir -p "$dir"/{etc,db,run,log,tmp,filter,spool/articles,spool/overview,spool/incoming/bad,spool/incoming/tmp,spool/outgoing,spool/archive,http}
for f in control.ctl control.ctl.local distrib.pats distributions moderators nnrpd.track \
         innwatch.ctl localgroups subscriptions nocem.ctl inn-secrets.conf expire.ctl; do
    [ -f "/etc/news/$f" ] && cp "/etc/news/$f" "$dir/etc/$f"
done
touch "$dir/etc/passwd.nntp" "$dir/etc/control.ctl.local"
chmod 640 "$dir/etc/passwd.nntp"

write_conf() {
    local port=$1
    cat > "$dir/etc/inn.conf" <<EOF
# Private test instance of the Vorlix tests (generated by scripts/test-services/inn.sh)
organization:        "Vorlix test server"
domain:              vorlix.invalid
pathhost:            vorlix-test.invalid
server:              127.0.0.1
bindaddress:         127.0.0.1
bindaddress6:        none
port:                $port
nnrpdpostport:       $port
mta:                 "/bin/true %s"
mailcmd:             /bin/true
ovmethod:            tradindexed
hismethod:           hisv6
enableoverview:      true
artcutoff:           0
nnrpdloadlimit:      0
maxconnections:      0
pgpverify:           false
docancels:           "none"
wipcheck:            5
wipexpire:           10
clienttimeout:       1800
initialtimeout:      60
backoffauth:         false
nnrpdcheckart:       true
readerswhenstopped:  true
noreader:            false
readertrack:         false
storeonxref:         true
wireformat:          true
logipaddr:           false
logstatus:           false
status:              0
timer:               0
nicekids:            0
nicennrpd:           0
maxforks:            10
maxlisten:           128
pathnews:            /usr/lib/news
pathbin:             $pathbin
pathcontrol:         $pathbin/control
pathfilter:          $dir/filter
pathetc:             $dir/etc
pathdb:              $dir/db
pathrun:             $dir/run
pathlog:             $dir/log
pathhttp:            $dir/http
tlscapath:           $dir/etc/tls
tlscafile:           $dir/etc/tls/ca.pem
tlscertfile:         $dir/etc/tls/server.pem
tlskeyfile:          $dir/etc/tls/server.key
pathtmp:             $dir/tmp
pathspool:           $dir/spool
patharticles:        $dir/spool/articles
pathoverview:        $dir/spool/overview
pathincoming:        $dir/spool/incoming
pathoutgoing:        $dir/spool/outgoing
patharchive:         $dir/spool/archive
EOF
}

# A throw-away certificate authority and a server certificate for 127.0.0.1 signed by it, made
# here without any network: nnrpd offers STARTTLS with it, and the tests trust only this CA.
make_certificates() {
    local tls="$dir/etc/tls"
    mkdir -p "$tls"
    (
        cd "$tls"
        umask 077
        openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 \
            -subj "/CN=Vorlix test CA" \
            -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
        openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=127.0.0.1"
        printf '%s\n' "subjectAltName=IP:127.0.0.1,DNS:localhost" "basicConstraints=CA:FALSE" \
            "keyUsage=digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" > server.ext
        openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
            -extfile server.ext -out server.pem
        # Nothing may be signed with this authority afterwards.
        rm -f ca.key ca.srl server.csr server.ext
    ) >>"$dir/log/tls.log" 2>&1 || { log "making the test certificates failed; see $dir/log/tls.log"; return 1; }
    chmod 644 "$tls/ca.pem" "$tls/server.pem"
    chmod 600 "$tls/server.key"
    chmod 755 "$tls"
}
make_certificates

cat > "$dir/etc/storage.conf" <<EOF
method tradspool {
    newsgroups: *
    class: 0
}
EOF
cat > "$dir/etc/newsfeeds" <<EOF
ME:*,!junk,!control*/!local::
EOF
# No feed peers at all: every connection from loopback is a news reader (nnrpd).
cat > "$dir/etc/incoming.conf" <<EOF
streaming:          true
max-connections:    8
EOF
cat > "$dir/etc/readers.conf" <<EOF
# Readers from loopback read and post everywhere except in vorlix.auth.*, which needs a login.
auth "loopback" {
    hosts: "127.0.0.1, localhost, ::1, stdin"
    auth: "ckpasswd -f $dir/etc/newsusers"
    default: "<anonymous>"
}
access "anonymous" {
    users: "<anonymous>"
    newsgroups: "*,!vorlix.auth.*"
    access: RPA
    addcanlockuser: none
}
access "members" {
    users: "$user"
    newsgroups: "*"
    access: RPA
    addcanlockuser: none
}
EOF
hash=$(perl -e 'my @c = ("a".."z", "A".."Z", 0..9); my $s = join "", map { $c[rand @c] } 1..16; print crypt($ARGV[0], "\$6\$$s\$")' "$pass")
echo "$user:$hash" > "$dir/etc/newsusers"
chmod 640 "$dir/etc/newsusers"

cat > "$dir/db/active" <<EOF
control 0000000000 0000000001 n
control.cancel 0000000000 0000000001 n
junk 0000000000 0000000001 n
$group_small 0000000000 0000000001 y
$group_big 0000000000 0000000001 y
$group_empty 0000000000 0000000001 y
$group_post 0000000000 0000000001 y
$group_auth 0000000000 0000000001 y
EOF
now=$(date +%s)
: > "$dir/db/active.times"
for g in control control.cancel junk $group_small $group_big $group_empty $group_post $group_auth; do
    echo "$g $now vorlix@vorlix.invalid" >> "$dir/db/active.times"
done
cat > "$dir/db/newsgroups" <<EOF
$group_small	Talk about speaking newsreaders (test articles).
$group_big	A large group for download benchmarks.
$group_empty	A group without articles.
$group_post	Articles posted by the tests.
$group_auth	Members only (login required).
EOF
: > "$dir/db/history"
chown -R news:news "$dir"
write_conf 0
( cd "$dir/db" && runuser -u news -- env INNCONF="$dir/etc/inn.conf" "$pathbin/makedbz" -i -o -s 20000 )

# Start innd on a free port; retry with another port if someone took it in between.
started=0
for attempt in 1 2 3 4 5; do
    port=$(pick_port)
    write_conf "$port"
    chown news:news "$dir/etc/inn.conf"
    rm -f "$dir/run/innd.pid"
    if runuser -u news -- env INNCONF="$dir/etc/inn.conf" HOME="$dir" \
            "$pathbin/innd" -N -c 0 -P "$port" -4 127.0.0.1 >>"$dir/log/start.log" 2>&1; then
        for _ in $(seq 1 100); do
            if server_pid >/dev/null && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
                started=1
                break
            fi
            server_pid >/dev/null || [ ! -f "$dir/run/innd.pid" ] || break
            sleep 0.05
        done
    fi
    [ "$started" = 1 ] && break
    log "innd did not start on port $port (attempt $attempt)"
    stop_server
done
if [ "$started" != 1 ]; then
    log "innd did not start; see $dir/log"
    tail -n 20 "$dir/log/start.log" "$dir/log/news.err" 2>/dev/null >&2 || true
    exit 1
fi

# The test articles, as one rnews batch.
batch="$dir/tmp/articles.batch"
perl - "$now" "$big_count" "$group_small" "$group_big" "$group_auth" > "$batch" <<'PERL'
use strict;
use warnings;
use POSIX qw(strftime);
my ($now, $bigCount, $small, $big, $auth) = @ARGV;
binmode STDOUT;
my $count = 0;
sub date_text { my ($t) = @_; return strftime("%a, %d %b %Y %H:%M:%S +0000", gmtime($t)); }
sub article {
    my (%a) = @_;
    my @h = (
        "Path: vorlix-test.invalid!not-for-mail",
        "From: $a{from}",
        "Newsgroups: $a{group}",
        "Subject: $a{subject}",
        "Date: " . date_text($a{time}),
        "Message-ID: $a{id}",
    );
    push @h, "References: $a{refs}" if $a{refs};
    push @h, "Organization: Vorlix tests", "Lines: " . scalar(@{$a{body}});
    push @h, "Content-Type: text/plain; charset=UTF-8" if $a{utf8};
    my $text = join("\n", @h) . "\n\n" . join("\n", @{$a{body}}) . "\n";
    print "#! rnews " . length($text) . "\n" . $text;
    $count++;
}
my @people = ('"Ann Example" <ann@example.org>', 'bob@example.net (Bob Builder)',
              'Carla Speaker <carla@example.com>', '"Dan O. Reader" <dan@example.org>',
              'eve@example.com');
my $hour = 3600;
# The small group: a thread with quoted names, dot lines, UTF-8, an old article, a long line.
article(group => $small, id => '<welcome.1@vorlix.invalid>', from => $people[0], time => $now - 6 * $hour,
        subject => 'Welcome to the speaking newsreader group',
        body => ['Hello all,', '', 'this group is for testing a newsreader that reads aloud.', '', 'Ann']);
article(group => $small, id => '<reply.2@vorlix.invalid>', from => $people[1], time => $now - 5 * $hour,
        subject => 'Re: Welcome to the speaking newsreader group', refs => '<welcome.1@vorlix.invalid>',
        body => ['Ann Example wrote:', '> this group is for testing a newsreader that reads aloud.', '',
                 'Thanks, glad to be here.']);
article(group => $small, id => '<reply.3@vorlix.invalid>', from => $people[0], time => $now - 4 * $hour,
        subject => 'Re: Welcome to the speaking newsreader group',
        refs => '<welcome.1@vorlix.invalid> <reply.2@vorlix.invalid>',
        body => ['Bob Builder wrote:', '>> this group is for testing', '> Thanks, glad to be here.', '', 'You are welcome!']);
article(group => $small, id => '<dots.4@vorlix.invalid>', from => $people[2], time => $now - 3 * $hour,
        subject => 'Lines that start with a dot',
        body => ['The next line is a single dot:', '.', 'and this one starts with two dots:', '..two', '.hidden text', 'end']);
article(group => $small, id => '<utf8.5@vorlix.invalid>', from => '"Jürgen Müller" <juergen@example.de>',
        time => $now - 2 * $hour, utf8 => 1, subject => 'Grüße aus Köln – naïve café',
        body => ['Schöne Grüße, ça va? Ελληνικά and 日本語 too.']);
article(group => $small, id => '<old.6@vorlix.invalid>', from => $people[3], time => $now - 400 * 24 * $hour,
        subject => 'An article from last year',
        body => ['This one is more than a year old.']);
article(group => $small, id => '<long.7@vorlix.invalid>', from => $people[4], time => $now - 1 * $hour,
        subject => 'A very long line',
        body => ['Short line before.', ('word ' x 1400) . 'end', 'Short line after.']);
article(group => $small, id => '<empty.8@vorlix.invalid>', from => '"" <nobody@example.org>', time => $now - 1800,
        subject => 'Sender with an empty quoted name',
        body => ['Nothing to see.']);
my @lines = map { "Line $_ of a longer article body, with some words to read aloud." } 1..300;
article(group => $small, id => '<many.9@vorlix.invalid>', from => $people[2], time => $now - 600,
        subject => 'A longer article', body => \@lines);
article(group => $small, id => '<recent.10@vorlix.invalid>', from => $people[1], time => $now - 60,
        subject => 'Re: A longer article', refs => '<many.9@vorlix.invalid>',
        body => ['Carla Speaker wrote:', '> Line 1 of a longer article body', '', 'Indeed it is long.']);
# The big group: threads of a few articles each, spread over the last days.
my $n = 0;
for my $i (1 .. $bigCount) {
    my $t = $now - ($bigCount - $i) * 20;
    my $root = $i - (($i - 1) % 4);
    my %a = (group => $big, id => "<big.$i\@vorlix.invalid>", from => $people[$i % @people], time => $t,
             subject => ($i == $root ? "Topic $root: speaking article $i" : "Re: Topic $root: speaking article $root"),
             body => ["Article $i of the big group.", "", "Some text to read: the quick brown fox jumps over the lazy dog."]);
    $a{refs} = join(' ', map { "<big.$_\@vorlix.invalid>" } ($root .. $i - 1)) if $i != $root;
    article(%a);
}
# The protected group.
for my $i (1 .. 3) {
    article(group => $auth, id => "<secret.$i\@vorlix.invalid>", from => $people[0], time => $now - $i * $hour,
            subject => "Members only $i", body => ["Private article $i."]);
}
PERL
chown news:news "$batch"
if ! runuser -u news -- env INNCONF="$dir/etc/inn.conf" "$pathbin/rnews" -N -a "$batch" \
        >>"$dir/log/rnews.log" 2>&1; then
    log "rnews failed; see $dir/log/rnews.log"
    exit 1
fi
rm -f "$batch"

cat > "$dir/env" <<EOF
VORLIX_INN_HOST=127.0.0.1
VORLIX_INN_PORT=$port
VORLIX_INN_USER=$user
VORLIX_INN_PASS=$pass
VORLIX_INN_GROUP=$group_small
VORLIX_INN_GROUP_COUNT=10
VORLIX_INN_BIG_GROUP=$group_big
VORLIX_INN_BIG_COUNT=$big_count
VORLIX_INN_EMPTY_GROUP=$group_empty
VORLIX_INN_POST_GROUP=$group_post
VORLIX_INN_AUTH_GROUP=$group_auth
VORLIX_INN_AUTH_COUNT=3
VORLIX_INN_CA=$dir/etc/tls/ca.pem
EOF
cat "$dir/env"
