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
