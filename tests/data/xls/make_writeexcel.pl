#!/usr/bin/perl
# Writes the .xls test workbooks of Spreadsheet::WriteExcel (BIFF8) into this
# directory (libspreadsheet-writeexcel-perl). The files are small and kept in
# the repository; run again after changing this script.
use strict;
use warnings;
use utf8;
use File::Basename qw(dirname);
use Spreadsheet::WriteExcel;

my $here = dirname(__FILE__);

# Formulas with cached results of every kind, dates under the 1900 system,
# several sheets with a hidden one.
{
    my $wb = Spreadsheet::WriteExcel->new("$here/writeexcel_formulas.xls") or die;
    my $date = $wb->add_format(num_format => 14);
    my $datetime = $wb->add_format(num_format => 22);
    my $known = $wb->add_format(num_format => 'm/d/yyyy');
    my $ws = $wb->add_worksheet('Formulas');
    $ws->write_string(0, 0, 'Kind');
    $ws->write_string(0, 1, 'Result');
    $ws->write_string(1, 0, 'text');
    $ws->write_formula(1, 1, '="ab"&"cd"', undef, 'abcd');
    $ws->write_string(2, 0, 'number');
    $ws->write_formula(2, 1, '=1+1.5', undef, 2.5);
    $ws->write_string(3, 0, 'true');
    $ws->write_formula(3, 1, '=1<2', undef, 'TRUE');
    $ws->write_string(4, 0, 'false');
    $ws->write_formula(4, 1, '=1>2', undef, 'FALSE');
    $ws->write_string(5, 0, 'error');
    $ws->write_formula(5, 1, '=1/0', undef, '#DIV/0!');
    $ws->write_string(6, 0, 'date');
    $ws->write_number(6, 1, 45000, $date);
    $ws->write_string(7, 0, 'datetime');
    $ws->write_number(7, 1, 45000.5, $datetime);
    $ws->write_string(8, 0, 'custom');
    $ws->write_number(8, 1, 2, $known);
    $ws->write_string(9, 0, 'plain');
    $ws->write_number(9, 1, 3.5);

    my $second = $wb->add_worksheet('Второй');
    $second->write_string(0, 0, 'x');
    my $hidden = $wb->add_worksheet('Hidden');
    $hidden->write_string(0, 0, 'y');
    $hidden->hide();
    $wb->close();
}

# Dates under the 1904 system.
{
    my $wb = Spreadsheet::WriteExcel->new("$here/writeexcel_1904.xls") or die;
    $wb->set_1904();
    my $date = $wb->add_format(num_format => 14);
    my $ws = $wb->add_worksheet('Dates');
    $ws->write_number(0, 0, 0, $date);
    $ws->write_number(1, 0, 1.5, $date);
    $wb->close();
}

# A shared string table far longer than one record, with 8- and 16-bit strings.
{
    my $wb = Spreadsheet::WriteExcel->new("$here/writeexcel_long_sst.xls") or die;
    my $ws = $wb->add_worksheet('Strings');
    for my $r (0 .. 399) {
        my $text = ($r % 2) ? "line $r " . ('ж' x (30 + $r % 50)) : "line $r " . ('y' x (60 + $r % 40));
        $ws->write_string($r, 0, $text);
    }
    $wb->close();
}

# Dates through write_date_time under custom codes, formula errors of every
# kind and booleans with their cached results, and a row wider than the first.
{
    my $wb = Spreadsheet::WriteExcel->new("$here/writeexcel_dates.xls") or die;
    my @codes = ('yyyy-mm-dd', 'yyyy-mm-dd hh:mm:ss', 'dd/mm/yyyy', '[$-409]mmmm d, yyyy', 'h:mm:ss', '[h]:mm');
    my @formats = map { $wb->add_format(num_format => $_) } @codes;
    my $ws = $wb->add_worksheet('Dates');
    my @heads = ('day', 'stamp', 'dmy', 'long', 'clock', 'elapsed');
    $ws->write_string(0, $_, $heads[$_]) for 0 .. $#heads;
    my @rows = (
        ['2024-03-05T', '2024-03-05T14:30:00', '2024-05-13T', '2024-03-05T', 'T14:30:00', 'T36:00:00'],
        ['1900-02-28T', '1999-12-31T23:59:59', '1900-03-01T', '1900-01-01T', 'T00:00:01', 'T06:00:00'],
    );
    for my $r (0 .. $#rows) {
        for my $c (0 .. 5) {
            my $when = $rows[$r][$c];
            if ($c == 5) {
                # write_date_time refuses hours past 23: 36 hours is 1.5 days.
                $ws->write_number($r + 1, $c, $r == 0 ? 1.5 : 0.25, $formats[$c]);
            } else {
                $ws->write_date_time($r + 1, $c, $when, $formats[$c]);
            }
        }
    }
    my $errors = $wb->add_worksheet('Errors');
    $errors->write_string(0, 0, 'formula');
    $errors->write_string(0, 1, 'result');
    my @results = ('#NULL!', '#DIV/0!', '#VALUE!', '#REF!', '#NAME?', '#NUM!', '#N/A', 'TRUE', 'FALSE');
    for my $r (0 .. $#results) {
        $errors->write_string($r + 1, 0, $results[$r]);
        $errors->write_formula($r + 1, 1, '=1/0', undef, $results[$r]);
    }
    $errors->write_string(10, 3, 'right');
    $wb->close();
}
